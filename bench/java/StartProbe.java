import java.io.ByteArrayInputStream;
import java.io.File;
import java.util.logging.Logger;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import javax.xml.parsers.DocumentBuilderFactory;

// The application the start benchmarks run. It prints "main <nanoTime>" as its first act
// (System.nanoTime is the same monotonic clock the benchmark reads), then:
//   hello              nothing more
//   work               what a small server does at start: logging, XML, regular
//                      expressions, streams and dates, which loads some hundreds of classes
//   restart MARKER     the first generation creates MARKER, prints "exit <nanoTime>" and
//                      calls System.exit(3); the next one removes MARKER and returns
public class StartProbe {
  public static void main(String[] args) throws Exception {
    long start = System.nanoTime();
    System.out.println("main " + start);
    if (args.length >= 1 && args[0].equals("work")) work();
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

  private static void work() throws Exception {
    Logger.getLogger("StartProbe").fine("starting");
    String xml = "<config><port>8080</port><name>bench</name></config>";
    String port = DocumentBuilderFactory.newInstance().newDocumentBuilder()
        .parse(new ByteArrayInputStream(xml.getBytes("UTF-8"))).getElementsByTagName("port").item(0).getTextContent();
    boolean matches = Pattern.compile("[0-9]+").matcher(port).matches();
    String joined = IntStream.range(0, 10).mapToObj(Integer::toString).collect(Collectors.joining(","));
    System.out.println("work " + matches + " " + joined.length() + " " + java.time.LocalDate.of(2020, 1, 1));
  }
}
