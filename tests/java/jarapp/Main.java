package jarapp;

/** An application whose jar's manifest names it and dep.jar. */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) {
        System.out.println(jardep.Dep.greeting());
        System.out.println("class path " + System.getProperty("java.class.path"));
        System.out.println("command " + System.getProperty("sun.java.command"));
        System.out.println("arguments " + String.join(",", args));
    }
}
