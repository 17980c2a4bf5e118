// The bundled example application: greets, and shows what the launcher handed it.
public class Hello {
  public static void main(String[] args) {
    System.out.println("Hello from a Java application started by the launcher.");
    System.out.println("  java.version     = " + System.getProperty("java.version"));
    System.out.println("  launcher.program = " + System.getProperty("launcher.program"));
    System.out.println("  user.dir         = " + System.getProperty("user.dir"));
    for (int i = 0; i < args.length; i++) {
      System.out.println("  argument " + (i + 1) + "       = " + args[i]);
    }
  }
}
