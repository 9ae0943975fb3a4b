package jardep;

/** A class the jar application reaches through its manifest's Class-Path. */
public final class Dep {
    private Dep() {
    }

    public static String greeting() {
        return "hello from dep.jar";
    }
}
