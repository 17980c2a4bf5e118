// An exit class for the signal tests, with an exit method of its own name.
public class SignalAppExit {
  public static void stop(boolean flag) {
    System.out.println("stop " + flag);
  }
}
