// Lays out application trees in temporary directories, runs the real
// launcher in them and reads back what the test doubles recorded.
#ifndef LAUNCH_HARNESS_H
#define LAUNCH_HARNESS_H

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// A temporary directory holding <appName>/bin/applauncher,
// <appName>/lib/libapplauncher.so (the auxiliary test double), fakebin/
// (the only directory on the launcher's PATH) and records/. Removed with
// everything in it when the object goes.
class AppTree {
public:
    explicit AppTree(const std::string &appName = "app", bool withLibrary = true);
    ~AppTree();
    AppTree(const AppTree &) = delete;
    AppTree &operator=(const AppTree &) = delete;

    // Installs the substitute package manager as fakebin/<name> ("rpm", "dpkg").
    void installCommand(const std::string &name) const;
    // Replaces lib/libapplauncher.so with a copy of `library`.
    void installLibrary(const std::string &library, const std::string &path) const;

    std::string root;
    std::string appDir;
    std::string exe;
    std::string libPath;
    std::string fakeBin;
    std::string records;
};

struct LaunchResult {
    int exitCode = -1;  // the exit status, or -1 when killed by a signal
    pid_t pid = 0;      // the launcher's (parent's) process id
    std::string stderrText;
    std::string stdoutText;
};

// A debug line split into its process id and message.
struct DebugLine {
    pid_t pid;
    std::string message;
};

// The environment every launch starts from: PATH is fakebin alone,
// TEST_RECORDS, AUX_RUNTIME names the runtime double, debug output on.
std::map<std::string, std::string> baseEnvironment(const AppTree &tree);

// Runs the launcher with argv[0] = `argv0` (the executable's path when
// empty) and `args` after it. APPLAUNCHER_TEST_WRAPPER, when set, is put
// in front of the command line (for valgrind).
LaunchResult runLauncher(const AppTree &tree, const std::vector<std::string> &args,
                         const std::map<std::string, std::string> &env,
                         const std::string &argv0 = "");

// Runs `prefix` followed by the launcher's path and `args`, in place of the
// wrapper, for tests that start the launcher through another command.
LaunchResult runLauncherUnder(const std::vector<std::string> &prefix, const AppTree &tree,
                              const std::vector<std::string> &args,
                              const std::map<std::string, std::string> &env);

// Whether APPLAUNCHER_TEST_WRAPPER runs the launcher under another program,
// which then gives it argv[0] itself.
bool launcherIsWrapped();

// The NUL-terminated entries of records/<file>; empty when it does not exist.
std::vector<std::string> readRecords(const AppTree &tree, const std::string &file);

// The recorded command invocations, each as {tool, arg1, arg2, ...}.
std::vector<std::vector<std::string>> readCommands(const AppTree &tree);

// Splits stderr into debug lines; a line not of the form "[pid]: text"
// becomes an entry with pid 0 and the whole line.
std::vector<DebugLine> debugLines(const std::string &stderrText);

// The messages of the lines written by process `pid` (or by any other
// process than `pid` when `others` is true).
std::vector<std::string> messagesOf(const std::vector<DebugLine> &lines, pid_t pid,
                                    bool others = false);

// The text of the file at `path`.
std::string readFile(const std::string &path);

// Whether `entries` holds `entry`.
bool contains(const std::vector<std::string> &entries, const std::string &entry);

// The entries that start with `prefix`, in order.
std::vector<std::string> withPrefix(const std::vector<std::string> &entries,
                                    const std::string &prefix);

// The value of the first entry "<key>=..." of records/<file>; "" when none.
std::string recordedValue(const AppTree &tree, const std::string &file, const std::string &key);

// Waits up to `seconds` for every orphaned descendant of a process that made
// itself their subreaper; returns how each ended ("exit N", "signal N"),
// followed by "still running" when the time ran out.
std::vector<std::string> reapOrphans(double seconds);

#endif
