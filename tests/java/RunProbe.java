import com.vantrel.enterprise.server.UserId;
import com.vantrel.launcher.JavaLauncher;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.TreeSet;
import java.util.concurrent.CountDownLatch;

// A test application whose first argument says what a run does; it reports on standard
// output what the tests check.
public class RunProbe {
  static int status;
  static boolean statusThrows;
  static final CountDownLatch asked = new CountDownLatch(1);

  public static int getExitStatus() {
    asked.countDown();
    if (statusThrows) {
      throw new IllegalStateException("status unavailable");
    }
    return status;
  }

  public static void main(String[] args) throws Exception {
    String mode = args.length > 0 ? args[0] : "";
    String[] rest = Arrays.copyOfRange(args, Math.min(1, args.length), args.length);
    switch (mode) {
      case "args":
        for (int i = 0; i < rest.length; i++) {
          StringBuilder line = new StringBuilder("arg[" + i + "]=");
          for (char c : rest[i].toCharArray()) {
            line.append(String.format("%04x ", (int) c));
          }
          System.out.println(line.toString().trim());
        }
        System.out.println("cwd=" + Files.readSymbolicLink(Paths.get("/proc/self/cwd")));
        break;
      case "throw":
        throw new IllegalStateException("probe failure");
      case "status":
        status = Integer.parseInt(rest[0]);
        break;
      case "status-throws":
        statusThrows = true;
        break;
      case "exit":
        System.exit(Integer.parseInt(rest[0]));
        break;
      case "thread-exit":
        exitFromThread(Integer.parseInt(rest[0]), false);
        Thread.sleep(60000);
        break;
      case "status-then-exit":
        status = Integer.parseInt(rest[0]);
        exitFromThread(Integer.parseInt(rest[1]), true);
        break;
      case "restart":
        restart(rest);
        break;
      case "natives":
        natives();
        break;
      case "switch":
        System.out.println("group=" + UserId.setGroup(rest[1]));
        System.out.println("user=" + UserId.setUser(rest[0]));
        printStatusIds();
        break;
      case "login":
        for (String user : rest) {
          try {
            System.out.println("user(" + user + ")=" + UserId.setUser(user));
          } catch (RuntimeException e) {
            System.out.println("user(" + user + ") threw " + e.getClass().getName() + ": " + e.getMessage());
          }
          printStatusIds();
        }
        break;
      case "getenv":
        for (String name : rest) {
          System.out.println("getenv " + name + "=" + System.getenv(name));
        }
        break;
      case "env":
        Path file = Paths.get(System.getProperty("vantrel.exportenv"));
        System.out.println("file=" + file);
        System.out.println("mode=" + PosixFilePermissions.toString(Files.getPosixFilePermissions(file)));
        for (String line : Files.readAllLines(file, StandardCharsets.UTF_8)) {
          System.out.println("env|" + line);
        }
        if (rest.length > 0) {
          System.exit(Integer.parseInt(rest[0]));
        }
        break;
      default:
        System.out.println("unknown mode " + mode);
        status = 99;
    }
  }

  // System.exit from another thread; after getExitStatus has answered when asked to wait.
  static void exitFromThread(int code, boolean afterStatus) {
    Thread t = new Thread(() -> {
      try {
        if (afterStatus) {
          asked.await();
          Thread.sleep(100);
        }
      } catch (InterruptedException e) {
        return;
      }
      System.exit(code);
    });
    t.start();
  }

  // restart FILE LIMIT CODE exit|status: counts generations in FILE, one line each with
  // the resident memory and the open descriptors; asks for a restart until LIMIT
  // generations have run.
  static void restart(String[] rest) throws IOException {
    Path file = Paths.get(rest[0]);
    int limit = Integer.parseInt(rest[1]);
    int code = Integer.parseInt(rest[2]);
    List<String> lines = Files.exists(file) ? Files.readAllLines(file) : new ArrayList<>();
    int generation = lines.size() + 1;
    String line = "gen " + generation + " rss " + residentKilobytes() + " fds " + descriptors() + " env "
        + System.getProperty("vantrel.exportenv") + "\n";
    Files.write(file, line.getBytes(StandardCharsets.UTF_8), StandardOpenOption.CREATE, StandardOpenOption.APPEND);
    if (generation < limit) {
      if (rest[3].equals("exit")) {
        System.exit(code);
      }
      status = code;
    } else {
      status = 7;
    }
  }

  static long residentKilobytes() throws IOException {
    for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
      if (line.startsWith("VmRSS:")) {
        return Long.parseLong(line.replaceAll("[^0-9]", ""));
      }
    }
    return -1;
  }

  static String descriptors() {
    java.util.TreeMap<Integer, String> fds = new java.util.TreeMap<>();
    String[] names = new java.io.File("/proc/self/fd").list();
    for (String n : names) {
      String target;
      try {
        target = Files.readSymbolicLink(Paths.get("/proc/self/fd", n)).toString();
      } catch (IOException e) {
        target = "?";
      }
      // The listing's own descriptor names a directory of this very process.
      // The listing's own descriptor, whose number depends on what else is open.
      if (target.equals("?") || target.matches("/proc/[0-9]+/fd")) {
        continue;
      }
      fds.put(Integer.parseInt(n), target.replaceAll("^(socket|pipe):\\[[0-9]+\\]$", "$1"));
    }
    return fds.toString().replace(" ", "");
  }

  static void natives() {
    System.out.println("nativeAvailable=" + JavaLauncher.nativeAvailable);
    System.out.println("underLauncher=" + JavaLauncher.checkIfRunningUnderLauncher0());
    System.out.println("dump=" + JavaLauncher.dumpAllStacks0());
    JavaLauncher.hideSplashScreen0();
    System.out.println("registry=" + JavaLauncher.getRegistryValueType0(1, "k", "n") + ","
        + JavaLauncher.readRegistryStringValue0(1, "k", "n") + ","
        + JavaLauncher.readRegistryBinaryValue0(1, "k", "n") + ","
        + JavaLauncher.readRegistryDwordValue0(1, "k", "n") + ","
        + JavaLauncher.writeRegistryStringValue0(1, "k", "n", "v") + ","
        + JavaLauncher.writeRegistryBinaryValue0(1, "k", "n", new byte[1]) + ","
        + JavaLauncher.writeRegistryDwordValue0(1, "k", "n", 1));
    System.out.println("root=" + UserId.isRootUser());
    String[][] calls = {{"user", null}, {"user", "no-such-user-xyz"}, {"group", null},
        {"group", "no-such-group-xyz"}, {"group", "99999999999"}, {"user", "0abc"}};
    for (String[] call : calls) {
      try {
        boolean result = call[0].equals("user") ? UserId.setUser(call[1]) : UserId.setGroup(call[1]);
        System.out.println(call[0] + "(" + call[1] + ")=" + result);
      } catch (RuntimeException e) {
        System.out.println(call[0] + "(" + call[1] + ") threw " + e.getClass().getName() + ": " + e.getMessage());
      }
    }
  }

  static void printStatusIds() throws IOException {
    for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
      if (line.startsWith("Uid:") || line.startsWith("Gid:") || line.startsWith("Groups:")) {
        System.out.println(line.replaceAll("\\s+", " ").trim());
      }
    }
  }
}
