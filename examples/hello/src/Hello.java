// The bundled example application: greets, and shows what the launcher handed it.
// With the argument --serve it keeps running, as a server would, until the launcher asks
// it to stop through its exit method (options handleexit, on SIGTERM, SIGINT or SIGHUP).
import java.util.concurrent.CountDownLatch;

public class Hello {
  private static final CountDownLatch stopRequested = new CountDownLatch(1);

  public static void main(String[] args) throws InterruptedException {
    System.out.println("Hello from a Java application started by the launcher.");
    System.out.println("  java.version     = " + System.getProperty("java.version"));
    System.out.println("  launcher.program = " + System.getProperty("launcher.program"));
    System.out.println("  user.dir         = " + System.getProperty("user.dir"));
    boolean serve = false;
    for (int i = 0; i < args.length; i++) {
      System.out.println("  argument " + (i + 1) + "       = " + args[i]);
      serve |= args[i].equals("--serve");
    }
    if (serve) {
      System.out.println("Serving until stopped.");
      stopRequested.await();
      System.out.println("Stopped in an orderly way.");
    }
  }

  // The launcher's exit method: called with true to ask the application to stop.
  public static void cleanup(boolean exiting) {
    stopRequested.countDown();
  }
}
