package hello;

import java.util.ArrayList;
import java.util.List;

/**
 * The hello sample: greets whoever its arguments name.
 *
 * <p>--exit N ends it with status N; HELLO_GREETING, which the launch
 * configuration sets, chooses the greeting.
 */
public final class Hello {
    private Hello() {
    }

    public static void main(String[] args) {
        int status = 0;
        List<String> names = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("--exit") && i + 1 < args.length) {
                status = Integer.parseInt(args[++i]);
            } else {
                names.add(args[i]);
            }
        }
        String greeting = System.getenv().getOrDefault("HELLO_GREETING", "Hello");
        String home = System.getenv().getOrDefault("HELLO_HOME", "?");
        System.out.println(greeting + ", " + (names.isEmpty() ? "world" : String.join(" and ", names)) + "!");
        System.out.println("running on Java " + System.getProperty("java.version") + " from " + home);
        System.exit(status);
    }
}
