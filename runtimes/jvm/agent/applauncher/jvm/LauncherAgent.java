package applauncher.jvm;

import java.lang.instrument.Instrumentation;

/**
 * The agent of the jar that the JVM runtime library writes for a jar whose
 * manifest names a Launcher-Agent-Class: the VM starts it with -javaagent,
 * and the library then hands the instrumentation it keeps to that class's
 * agentmain before main runs.
 */
public final class LauncherAgent {
    private static volatile Instrumentation instrumentation;

    private LauncherAgent() {
    }

    /** Keeps the instrumentation the VM gives this agent. */
    public static void premain(String arguments, Instrumentation given) {
        instrumentation = given;
    }

    /** The instrumentation premain kept; null before it ran. */
    public static Instrumentation instrumentation() {
        return instrumentation;
    }
}
