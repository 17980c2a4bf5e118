import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

// An application for the process's life across restarts. The first argument names a
// counter file that gives each generation its number; the second is what the first
// generation does:
//   restart-exit    System.exit(3)
//   restart-return  returns with getExitStatus 3
//   wait-restart    says "ready" and waits; its exit method asks for the restart (3)
//   fill            says "ready", waits for a line on standard input, writes the third
//                   argument's number of bytes to standard output and returns with
//                   getExitStatus 5
// Every later generation prints its signal dispositions and returns with status 0. A
// third argument "linger" leaves a non-daemon thread that ends 80 ms after main.
public class LifeApp {
  private static int status;
  private static volatile boolean restartOnStop;

  public static int getExitStatus() {
    return status;
  }

  // The stop asks for the restart in the first generation of "wait-restart"; elsewhere
  // the application takes no notice of it.
  public static void cleanup(boolean flag) {
    if (restartOnStop) System.exit(3);
  }

  public static void main(String[] args) throws Exception {
    Path counter = Paths.get(args[0]);
    int generation = Files.exists(counter) ? Integer.parseInt(Files.readAllLines(counter).get(0).trim()) + 1 : 1;
    Files.write(counter, (generation + "\n").getBytes());
    System.out.println("generation " + generation);
    for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
      if (line.startsWith("SigIgn:") || line.startsWith("SigBlk:")) {
        System.out.println("generation " + generation + " " + line.replace("\t", ""));
      }
    }
    if (args.length > 2 && args[2].equals("linger")) {
      new Thread(() -> {
        try {
          Thread.sleep(80);
        } catch (InterruptedException e) {
          Thread.currentThread().interrupt();
        }
      }, "life-app-linger").start();
    }
    if (generation > 1) {
      status = 0;
      return;
    }
    switch (args[1]) {
      case "restart-exit":
        System.exit(3);
        break;
      case "restart-return":
        status = 3;
        break;
      case "wait-restart":
        restartOnStop = true;
        System.out.println("ready");
        Thread.sleep(Long.MAX_VALUE);
        break;
      case "fill":
        System.out.println("ready");
        System.out.flush();
        while (System.in.read() != '\n') {
        }
        OutputStream out = System.out;
        byte[] bytes = new byte[Integer.parseInt(args[2])];
        java.util.Arrays.fill(bytes, (byte) '.');
        out.write(bytes);
        out.flush();
        status = 5;
        break;
      default:
        status = 2;
    }
  }
}
