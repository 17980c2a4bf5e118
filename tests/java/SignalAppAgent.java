import java.io.IOException;

// A Java agent that holds the VM's creation until standard input gives it a line, so a
// test can send a signal while the VM does not exist yet.
public class SignalAppAgent {
  public static void premain(String args) throws IOException {
    System.out.println("agent ready");
    // Byte by byte: what follows the line is for the application.
    for (int c = System.in.read(); c != -1 && c != '\n'; c = System.in.read()) {
    }
    System.out.println("agent done");
  }
}
