import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.lang.management.ManagementFactory;

// Runs the installation's jps -l while this VM is alive and prints the line it gives for
// this process as "jps: <line>", so a test can see how the tools name the VM.
public class JpsProbe {
  public static void main(String[] args) throws Exception {
    String pid = ManagementFactory.getRuntimeMXBean().getName().split("@")[0];
    String jps = System.getProperty("java.home") + File.separator + "bin" + File.separator + "jps";
    Process process = new ProcessBuilder(jps, "-l").redirectErrorStream(true).start();
    BufferedReader reader = new BufferedReader(new InputStreamReader(process.getInputStream(), "UTF-8"));
    String line;
    while ((line = reader.readLine()) != null) {
      if (line.equals(pid) || line.startsWith(pid + " ")) System.out.println("jps: " + line.substring(pid.length()).trim());
    }
    System.exit(process.waitFor());
  }
}
