import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

// A test application for restarts and the VM watch. Each generation appends a line to
// FILE, so the generation number survives the launcher's restarts.
//
//   gens FILE MILLIS,MILLIS,...  generation n lives MILLIS[n-1] and asks for a restart
//                                (status 3); after the list, status 7
//   stuck FILE MILLIS            generation 1 holds the VM at a safepoint for ever (a
//                                counted loop without safepoint polls against System.gc());
//                                later generations print "serving generation n", live
//                                MILLIS with collections and end with 0
//   serve FILE GOFILE PORT [hang] main prints "waiting" and returns; a thread waits for
//                                GOFILE, then listens on 127.0.0.1:PORT and prints
//                                "listening"; with hang, a shutdown hook never ends
public class SuperviseApp {
  static volatile long sink;

  public static int getExitStatus() {
    return status;
  }

  static int status;

  public static void main(String[] args) throws Exception {
    Path file = Paths.get(args[1]);
    int generation = (Files.exists(file) ? Files.readAllLines(file).size() : 0) + 1;
    Files.write(file, ("gen " + generation + "\n").getBytes(StandardCharsets.UTF_8), StandardOpenOption.CREATE,
        StandardOpenOption.APPEND);
    if (args[0].equals("gens")) {
      String[] plan = args[2].split(",");
      if (generation > plan.length) {
        status = 7;
        return;
      }
      Thread.sleep(Long.parseLong(plan[generation - 1]));
      status = 3;
    } else if (args[0].equals("serve")) {
      serve(Paths.get(args[2]), Integer.parseInt(args[3]), args.length > 4 && args[4].equals("hang"));
    } else if (args[0].equals("stuck")) {
      if (generation == 1) {
        holdAtSafepoint();
      }
      System.out.println("serving generation " + generation);
      long end = System.currentTimeMillis() + Long.parseLong(args[2]);
      while (System.currentTimeMillis() < end) {
        System.gc();
        Thread.sleep(100);
      }
    }
  }

  static void serve(Path go, int port, boolean hang) {
    if (hang) {
      Runtime.getRuntime().addShutdownHook(new Thread(() -> {
        try {
          Thread.sleep(Long.MAX_VALUE);
        } catch (InterruptedException e) {
          return;
        }
      }));
    }
    Thread server = new Thread(() -> {
      try {
        while (!Files.exists(go)) {
          Thread.sleep(50);
        }
        java.net.ServerSocket socket =
            new java.net.ServerSocket(port, 50, java.net.InetAddress.getByName("127.0.0.1"));
        System.out.println("listening");
        System.out.flush();
        for (;;) {
          socket.accept().close();
        }
      } catch (Exception e) {
        e.printStackTrace();
      }
    });
    server.start();
    System.out.println("waiting");
    System.out.flush();
  }

  // With -XX:-UseCountedLoopSafepoints -XX:LoopStripMiningIter=0 the compiled loops have no
  // safepoint poll; the first collection after the compilation waits for this thread for
  // ever, and every other Java thread with it.
  static void holdAtSafepoint() throws InterruptedException {
    Thread collector = new Thread(() -> {
      for (;;) {
        System.gc();
        try {
          Thread.sleep(50);
        } catch (InterruptedException e) {
          return;
        }
      }
    });
    collector.setDaemon(true);
    System.out.println("holding the VM");
    System.out.flush();
    collector.start();
    sink = spin();
  }

  static long spin() {
    long sum = 1;
    for (int j = 0; j < Integer.MAX_VALUE; j++) {
      for (int i = 0; i < Integer.MAX_VALUE; i++) {
        sum = sum * 31 + (i ^ (sum >>> 7));
      }
    }
    return sum;
  }
}
