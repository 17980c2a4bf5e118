import java.io.File;

// The application the start benchmarks run. It prints "main <nanoTime>" as its first act
// (System.nanoTime is the same monotonic clock the benchmark reads), then:
//   hello              nothing more
//   restart MARKER     the first generation creates MARKER, prints "exit <nanoTime>" and
//                      calls System.exit(3); the next one removes MARKER and returns
public class StartProbe {
  public static void main(String[] args) throws Exception {
    long start = System.nanoTime();
    System.out.println("main " + start);
    if (args.length >= 2 && args[0].equals("restart")) {
      File marker = new File(args[1]);
      if (marker.createNewFile()) {
        System.out.println("exit " + System.nanoTime());
        System.out.flush();
        System.exit(3);
      }
      marker.delete();
    }
  }
}
