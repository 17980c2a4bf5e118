import java.io.BufferedReader;
import java.io.InputStreamReader;

// A server stand-in for the signal tests. It reports its start on standard output, counts
// the calls of its exit method and returns from main when standard input says "done" (or
// ends). With the argument "linger" it returns at once instead, leaving a non-daemon
// thread that reports when the VM's destruction is waiting for it; "linger-after-done"
// leaves that thread once standard input has said "done".
public class SignalApp {
  private static int cleanups;

  public static synchronized void cleanup(boolean flag) {
    cleanups++;
    System.out.println("cleanup " + flag + " " + cleanups);
  }

  public static int getExitStatus() {
    return 7;
  }

  public static void main(String[] args) throws Exception {
    System.out.println("signalhandler.installed=" + System.getProperty("launcher.signalhandler.installed"));
    Thread sleeper = new Thread(SignalApp::sleepForever, "signal-app-sleeper");
    sleeper.setDaemon(true);
    sleeper.start();
    if (args.length > 0 && args[0].equals("linger")) {
      new Thread(SignalApp::awaitDestruction, "signal-app-linger").start();
      System.out.println("ready");
      return;
    }
    System.out.println("ready");
    BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
    for (String line = in.readLine(); line != null && !line.equals("done"); line = in.readLine()) {
    }
    synchronized (SignalApp.class) {
      System.out.println("cleanups " + cleanups);
    }
    if (args.length > 0 && args[0].equals("linger-after-done")) {
      new Thread(SignalApp::awaitDestruction, "signal-app-linger").start();
    }
  }

  // The thread that runs the VM's destruction attaches under this name.
  private static void awaitDestruction() {
    while (true) {
      for (Thread t : Thread.getAllStackTraces().keySet()) {
        if (t.getName().equals("DestroyJavaVM")) {
          System.out.println("destroy waiting");
          sleepForever();
        }
      }
      pause(10);
    }
  }

  private static void sleepForever() {
    while (true) {
      pause(60000);
    }
  }

  private static void pause(long millis) {
    try {
      Thread.sleep(millis);
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
    }
  }
}
