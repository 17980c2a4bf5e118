import java.io.IOException;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;

// A server that does not know the launcher: it has no exit method. It listens on a
// loopback port, closes it from a shutdown hook, and writes "PORT EXPORTFILE" into the
// file its first argument names once it listens. The second argument is its shape:
// "blocking" serves on the main thread, "returning" leaves a non-daemon listener thread
// and returns from main, "stuck" does the same with a shutdown hook that never ends,
// "stuck-blocking" serves on the main thread with such a hook, "noisy" writes many lines
// to standard error first and blocks.
public class PlainServer {
  public static void main(String[] args) throws Exception {
    String shape = args[1];
    if (shape.equals("noisy")) {
      for (int i = 0; i < 20000; i++) System.err.println("noise " + i);
    }
    ServerSocket server = new ServerSocket(0, 50, InetAddress.getLoopbackAddress());
    Runtime.getRuntime().addShutdownHook(new Thread(() -> {
      if (shape.startsWith("stuck")) {
        System.out.println("hook hangs");
        System.out.flush();
        while (true) {
          try {
            Thread.sleep(1000);
          } catch (InterruptedException e) {
            // still stuck
          }
        }
      }
      try {
        server.close();
      } catch (IOException e) {
        // closed already
      }
      System.out.println("hook ran");
      System.out.flush();
    }));
    Path tmp = Paths.get(args[0] + ".tmp");
    Files.write(tmp, (server.getLocalPort() + " " + System.getProperty("vantrel.exportenv") + "\n").getBytes());
    Files.move(tmp, Paths.get(args[0]), StandardCopyOption.ATOMIC_MOVE);
    System.out.println("listening");
    Runnable serve = () -> {
      while (true) {
        try (Socket s = server.accept()) {
          // answered by accepting
        } catch (IOException e) {
          return;
        }
      }
    };
    if (shape.equals("returning") || shape.equals("stuck")) {
      new Thread(serve, "plain-server-listener").start();
      return;
    }
    serve.run();
  }
}
