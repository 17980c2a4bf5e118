import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

// What an application started by the launcher sees of its surroundings: "env" prints its
// environment, "spawn PROGRAM ARGS..." starts another program as a server would and prints
// that program's output and status.
public class OperatorProbe {
  public static void main(String[] args) throws Exception {
    String mode = args.length > 0 ? args[0] : "";
    if (mode.equals("env")) {
      for (Map.Entry<String, String> e : new TreeMap<>(System.getenv()).entrySet()) {
        System.out.println("env|" + e.getKey() + "=" + e.getValue());
      }
      System.out.println("java.home=" + System.getProperty("java.home"));
    } else if (mode.equals("spawn")) {
      List<String> command = new ArrayList<>(Arrays.asList(args).subList(1, args.length));
      Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
      process.getOutputStream().close();
      ByteArrayOutputStream output = new ByteArrayOutputStream();
      InputStream in = process.getInputStream();
      byte[] buffer = new byte[8192];
      for (int n; (n = in.read(buffer)) > 0; ) {
        output.write(buffer, 0, n);
      }
      int status = process.waitFor();
      for (String line : new String(output.toByteArray(), StandardCharsets.UTF_8).split("\n")) {
        System.out.println("child|" + line);
      }
      System.out.println("child-status=" + status);
    } else {
      System.out.println("unknown mode " + mode);
    }
  }
}

// Main classes that cannot be loaded for a reason other than their absence.
class OperatorFailingInit {
  static final int VALUE = Integer.parseInt("not a number");

  public static void main(String[] args) {}
}

// Fails once the test removes OperatorHelper.class from its copy of the classes.
class OperatorNeedsHelper {
  static final Object HELPER = new OperatorHelper();

  public static void main(String[] args) {}
}

class OperatorHelper {}
