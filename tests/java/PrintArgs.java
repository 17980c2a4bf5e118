// Prints its arguments and a few system properties, one per line, for the tests; the
// environment variables the property printargs.env lists, as "env NAME=value".
public class PrintArgs {
  public static void main(String[] args) {
    for (String a : args) {
      System.out.println("arg=" + a);
    }
    String[] names = {"user.dir", "java.class.path", "launcher.program", "launcher.jdk.home",
        "vantrel.executable.path", "launcher.commandline.params", "launcher.config.params"};
    for (String n : names) {
      String v = System.getProperty(n);
      if (v != null) {
        System.out.println("prop " + n + "=" + v);
      }
    }
    String variables = System.getProperty("printargs.env");
    if (variables != null) {
      for (String n : variables.split(",")) {
        System.out.println("env " + n + "=" + System.getenv(n));
      }
    }
    String extra = System.getProperty("printargs.props");
    if (extra != null) {
      for (String n : extra.split(",")) {
        System.out.println("prop " + n + "=" + System.getProperty(n));
      }
    }
  }
}
