import com.vantrel.enterprise.server.UserId;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.net.BindException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.net.SocketException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * A small server run by the launcher. It listens on the launcher's command port
 * ({@code vantrel.socket}); started as root it binds that port (below 1024) first and then
 * gives up root, the way a web server keeps a privileged port without keeping root.
 *
 * <p>Each connection carries one command line: {@code open PATH} (what the launcher sends
 * in shell mode) is acknowledged, {@code restart} ends the run with the configured restart
 * code. The launcher calls {@link #cleanup} on SIGTERM, SIGINT and SIGHUP, and dumps the
 * threads on SIGQUIT by itself.
 */
public final class ExampleServer {
  private static volatile boolean running = true;
  private static volatile int exitStatus;
  private static ServerSocket listener;

  private ExampleServer() {
  }

  public static void main(String[] args) throws IOException {
    int port = Integer.getInteger("vantrel.socket", 8080);
    listener = new ServerSocket();
    listener.setReuseAddress(true);
    try {
      listener.bind(new InetSocketAddress(InetAddress.getLoopbackAddress(), port));
    } catch (BindException e) {
      // A restarted server runs as the user it switched to, which may not bind this port.
      System.err.println("example server: cannot listen on port " + port + ": " + e.getMessage());
      exitStatus = 1;
      return;
    }

    if (UserId.isRootUser()) {
      String group = System.getProperty("server.group", "nogroup");
      String user = System.getProperty("server.user", "nobody");
      if (!UserId.setGroup(group) || !UserId.setUser(user)) {
        System.err.println("example server: cannot give up root for " + user + ":" + group);
        listener.close();
        exitStatus = 1;
        return;
      }
    }
    String pid = Files.readSymbolicLink(Paths.get("/proc/self")).toString();
    System.out.println("ready port=" + port + " pid=" + pid);

    while (running) {
      try (Socket connection = listener.accept()) {
        serve(connection);
      } catch (SocketException e) {
        if (running) {
          throw e;
        }
      }
    }
    System.out.println("stopped status=" + exitStatus);
  }

  /** The run's exit status, asked by the launcher when main returns. */
  public static int getExitStatus() {
    return exitStatus;
  }

  /** Called by the launcher, on a thread of its own, for each interrupt. */
  public static void cleanup(boolean interrupted) {
    System.out.println("cleanup(" + interrupted + ")");
    stop(0);
  }

  private static void serve(Socket connection) throws IOException {
    BufferedReader in = new BufferedReader(
        new InputStreamReader(connection.getInputStream(), StandardCharsets.UTF_8));
    String command = in.readLine();
    if (command == null) {
      return;
    }
    if (command.startsWith("open ")) {
      System.out.println("opened " + command.substring(5));
    } else if (command.equals("restart")) {
      System.out.println("restarting");
      stop(Integer.getInteger("server.restartcode", 3));
    } else {
      System.out.println("unknown command " + command);
    }
  }

  private static synchronized void stop(int status) {
    exitStatus = status;
    running = false;
    try {
      listener.close();
    } catch (IOException e) {
      // Already closed.
    }
  }
}
