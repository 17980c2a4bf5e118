import java.io.BufferedReader;
import java.io.File;
import java.io.FileReader;
import java.io.FileWriter;
import java.util.TreeSet;

// The application of the tests that stop a service at every moment of its life. It
// prints every LAUNCHER_ variable it sees ("variable NAME"), then by its first argument:
//   serve                  says "serving" and waits until its exit method is called
//                          (with a shutdown hook that says "hook ran", as "return")
//   return                 leaves a non-daemon thread that waits for the exit method, says
//                          "serving" and returns
//   linger                 leaves a non-daemon thread that ends after 300 ms and returns
//   slowhook               registers a shutdown hook that says "hook runs" and takes 2 s,
//                          says "serving" and returns
//   restart FILE N MS [return]
//                          counts its generations in FILE: generations below N say
//                          "generation G", live MS ms (unless stopped meanwhile) and call
//                          System.exit(3), or with "return" return with getExitStatus 3
//                          (0 once stopped); generation N serves
public class StopMomentApp {
  private static final Object lock = new Object();
  private static boolean stopped;
  private static int status;

  public static int getExitStatus() {
    synchronized (lock) {
      return stopped ? 0 : status;
    }
  }

  public static void cleanup(boolean flag) {
    synchronized (lock) {
      stopped = true;
      lock.notifyAll();
    }
  }

  private static void awaitStop() {
    synchronized (lock) {
      while (!stopped) {
        try {
          lock.wait();
        } catch (InterruptedException e) {
          return;
        }
      }
    }
    System.out.println("stopped");
  }

  public static void main(String[] args) throws Exception {
    for (String name : new TreeSet<>(System.getenv().keySet())) {
      if (name.startsWith("LAUNCHER_")) System.out.println("variable " + name);
    }
    String mode = args.length > 0 ? args[0] : "serve";
    if (mode.equals("serve") || mode.equals("return")) {
      Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("hook ran")));
    }
    if (mode.equals("serve")) {
      System.out.println("serving");
      awaitStop();
    } else if (mode.equals("return")) {
      new Thread(StopMomentApp::awaitStop, "stop-moment-server").start();
      System.out.println("serving");
    } else if (mode.equals("linger")) {
      new Thread(() -> {
        try {
          Thread.sleep(300);
        } catch (InterruptedException e) {
          Thread.currentThread().interrupt();
        }
      }, "stop-moment-linger").start();
    } else if (mode.equals("slowhook")) {
      Runtime.getRuntime().addShutdownHook(new Thread(() -> {
        System.out.println("hook runs");
        try {
          Thread.sleep(2000);
        } catch (InterruptedException e) {
          Thread.currentThread().interrupt();
        }
      }));
      System.out.println("serving");
    } else if (mode.equals("restart")) {
      File file = new File(args[1]);
      int generation = 1;
      if (file.exists()) {
        try (BufferedReader in = new BufferedReader(new FileReader(file))) {
          generation = Integer.parseInt(in.readLine().trim()) + 1;
        }
      }
      try (FileWriter out = new FileWriter(file)) {
        out.write(generation + "\n");
      }
      System.out.println("generation " + generation);
      if (generation < Integer.parseInt(args[2])) {
        synchronized (lock) {
          long millis = Long.parseLong(args[3]);
          if (!stopped && millis > 0) lock.wait(millis);
          if (stopped) {
            System.out.println("stopped");
            return;
          }
        }
        if (args.length > 4 && args[4].equals("return")) {
          status = 3;
          return;
        }
        System.exit(3);
      }
      System.out.println("serving");
      awaitStop();
    }
  }
}
