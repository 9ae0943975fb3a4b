package agentjar;

import java.lang.instrument.Instrumentation;

/** The jar's Launcher-Agent-Class: notes that it ran and what it was given. */
public final class Agent {
    static volatile String ran = "no";

    private Agent() {
    }

    public static void agentmain(String arguments, Instrumentation instrumentation) {
        ran = "yes, arguments [" + arguments + "], redefine "
                + instrumentation.isRedefineClassesSupported() + ", retransform "
                + instrumentation.isRetransformClassesSupported() + ", before main "
                + !Main.started;
        if (System.getProperty("agent.throw") != null) {
            throw new IllegalStateException("the agent refuses");
        }
    }
}
