import java.io.BufferedReader;
import java.io.File;
import java.io.FileReader;
import java.io.FileWriter;
import java.io.InputStreamReader;
import java.net.InetAddress;
import java.net.ServerSocket;

// A server stand-in for the service-manager tests. It reports what it sees of the
// notification socket, then, by its first argument:
//   block            serves until its exit method is called or standard input says "done"
//   return           returns from main at once, a non-daemon thread serving as above
//   linger           returns from main at once, a non-daemon thread serving for ever
//   listen PORT      listens on 127.0.0.1:PORT after a short start, then serves as above
//   retry PORT       tries to listen on 127.0.0.1:PORT every 100 ms, saying "port taken"
//                    after the first failure, until it can; then serves as above
//   exit N           calls System.exit(N)
//   restart FILE     counts its generations in FILE: the first returns 3 through
//                    getExitStatus, the second calls System.exit(3), the third serves
public class ServiceApp {
  private static final Object lock = new Object();
  private static boolean stopped;
  private static int status;

  public static void cleanup(boolean flag) {
    System.out.println("cleanup " + flag);
    stop();
  }

  public static int getExitStatus() {
    return status;
  }

  public static void main(String[] args) throws Exception {
    System.out.println("notify=" + System.getenv("NOTIFY_SOCKET"));
    System.out.println("watchdog=" + System.getenv("WATCHDOG_USEC") + "," + System.getenv("WATCHDOG_PID"));
    Thread reader = new Thread(ServiceApp::readInput, "service-app-input");
    reader.setDaemon(true);
    reader.start();
    String mode = args.length > 0 ? args[0] : "block";
    if (mode.equals("block")) {
      System.out.println("serving");
      awaitStop();
    } else if (mode.equals("return")) {
      new Thread(ServiceApp::awaitStop, "service-app-server").start();
      System.out.println("serving");
    } else if (mode.equals("linger")) {
      new Thread(ServiceApp::serveForever, "service-app-forever").start();
      System.out.println("serving");
    } else if (mode.equals("listen")) {
      Thread.sleep(300);
      ServerSocket server = new ServerSocket(Integer.parseInt(args[1]), 50, InetAddress.getByName("127.0.0.1"));
      System.out.println("serving");
      awaitStop();
      server.close();
    } else if (mode.equals("retry")) {
      System.out.println("serving");
      ServerSocket server = null;
      boolean taken = false;
      while (server == null) {
        try {
          server = new ServerSocket(Integer.parseInt(args[1]), 50, InetAddress.getByName("127.0.0.1"));
        } catch (java.net.BindException e) {
          if (!taken) System.out.println("port taken");
          taken = true;
          Thread.sleep(100);
        }
      }
      System.out.println("listening");
      awaitStop();
      server.close();
    } else if (mode.equals("exit")) {
      System.out.println("serving");
      System.exit(Integer.parseInt(args[1]));
    } else if (mode.equals("break-config")) {
      // The next generation reads a configuration that fails.
      try (FileWriter out = new FileWriter(args[1], true)) {
        out.write("nosuchdirective\n");
      }
      System.exit(3);
    } else if (mode.equals("restart")) {
      int generation = nextGeneration(new File(args[1]));
      System.out.println("generation " + generation);
      if (generation == 1) {
        status = 3;
      } else if (generation == 2) {
        System.exit(3);
      } else {
        System.out.println("serving");
        awaitStop();
      }
    }
  }

  private static int nextGeneration(File file) throws Exception {
    int generation = 1;
    if (file.exists()) {
      try (BufferedReader in = new BufferedReader(new FileReader(file))) {
        generation = Integer.parseInt(in.readLine().trim()) + 1;
      }
    }
    try (FileWriter out = new FileWriter(file)) {
      out.write(generation + "\n");
    }
    return generation;
  }

  private static void readInput() {
    try {
      BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
      String line = in.readLine();
      while (line != null && !line.equals("done")) {
        line = in.readLine();
      }
      System.out.println(line == null ? "input ended" : "input done");
    } catch (Exception e) {
      System.out.println("input failed: " + e);
    }
    stop();
  }

  private static void serveForever() {
    while (true) {
      try {
        Thread.sleep(60000);
      } catch (InterruptedException e) {
        return;
      }
    }
  }

  private static void stop() {
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
}
