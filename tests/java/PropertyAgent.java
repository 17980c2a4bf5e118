// A Java agent whose premain sets the system properties named in its argument
// ("name=value;name=value"), before the launcher asks the VM who it is.
public class PropertyAgent {
  public static void premain(String args) {
    if (args == null) {
      return;
    }
    for (String pair : args.split(";")) {
      int eq = pair.indexOf('=');
      if (eq > 0) {
        System.setProperty(pair.substring(0, eq), pair.substring(eq + 1));
      }
    }
  }
}
