package agentjar;

import java.lang.reflect.Field;
import java.util.ArrayList;

/**
 * Needs what its manifest asks for: java.util opened to it (a private
 * field made accessible), sun.nio.ch exported to it, its agent run first;
 * and prints what the java command sets for it.
 */
public final class Main {
    static volatile boolean started;

    private Main() {
    }

    public static void main(String[] args) throws Exception {
        started = true;
        Field size = ArrayList.class.getDeclaredField("size");
        size.setAccessible(true);
        Module base = Object.class.getModule();
        System.out.println("opened ok, agent ran=" + Agent.ran);
        System.out.println("sun.nio.ch exported: " + base.isExported("sun.nio.ch", Main.class.getModule()));
        System.out.println("java.lang opened: " + base.isOpen("java.lang", Main.class.getModule()));
        System.out.println("sun.java.launcher=" + System.getProperty("sun.java.launcher"));
    }
}
