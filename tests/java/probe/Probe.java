package probe;

import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * The JVM runtime tests' program. It runs its arguments as a list of
 * commands, in order: "prop NAME", "env NAME", "thread-name", "first-thread",
 * "exit N", "exit-from-thread N", "throw TEXT", "thread MILLIS",
 * "recurse DEPTH", "hook" and "args ..." (which takes every word after it).
 */
public final class Probe {
    private Probe() {
    }

    /** Prints each argument in brackets, then its characters' code points. */
    private static void printArguments(String[] args, int from) {
        for (int i = from; i < args.length; i++) {
            StringBuilder points = new StringBuilder();
            args[i].codePoints().forEach(point -> points.append(' ').append(Integer.toHexString(point)));
            System.out.println("[" + args[i] + "]" + points);
        }
    }

    /** Recurses `depth` times. */
    private static long recurse(int depth, long a, long b) {
        if (depth == 0) {
            return a + b;
        }
        return recurse(depth - 1, b, a + b + depth) + 1;
    }

    /** Whether this thread is the process's first thread (its id the process id). */
    private static boolean onFirstThread() throws Exception {
        String self = Files.readSymbolicLink(Paths.get("/proc/thread-self")).toString();
        String[] parts = self.split("/");
        return parts[0].equals(parts[2]);
    }

    /** Starts a non-daemon thread that prints a line after `millis`. */
    private static void startWorker(int millis) {
        Thread worker = new Thread(() -> {
            try {
                Thread.sleep(millis);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            System.out.println("worker done");
        });
        worker.start();
    }

    public static void main(String[] args) throws Exception {
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "prop":
                    System.out.println(args[i + 1] + "=" + System.getProperty(args[++i]));
                    break;
                case "env":
                    System.out.println(args[i + 1] + "=" + System.getenv(args[++i]));
                    break;
                case "thread-name":
                    System.out.println("thread " + Thread.currentThread().getName());
                    break;
                case "first-thread":
                    System.out.println(onFirstThread() ? "on the first thread" : "on a new thread");
                    break;
                case "exit":
                    System.out.println("exiting with " + args[i + 1]);
                    System.exit(Integer.parseInt(args[++i]));
                    break;
                case "exit-from-thread":
                    int status = Integer.parseInt(args[++i]);
                    Thread exiting = new Thread(() -> System.exit(status));
                    exiting.start();
                    System.out.println("exiting from a thread with " + status);
                    exiting.join();
                    break;
                case "throw":
                    System.out.println("about to throw");
                    throw new IllegalStateException(args[++i]);
                case "thread":
                    startWorker(Integer.parseInt(args[++i]));
                    System.out.println("main done");
                    break;
                case "recurse":
                    recurse(Integer.parseInt(args[i + 1]), 1, 2);
                    System.out.println("recursed " + args[++i]);
                    break;
                case "hook":
                    Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("hook ran")));
                    System.out.println("ready");
                    Thread.sleep(60_000);
                    System.out.println("not interrupted");
                    break;
                case "args":
                    printArguments(args, i + 1);
                    return;
                default:
                    System.out.println("unknown command " + args[i]);
            }
        }
    }
}
