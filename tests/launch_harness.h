// Lays out application trees in temporary directories, runs the real
// launcher in them and reads back what the test doubles recorded.
#ifndef LAUNCH_HARNESS_H
#define LAUNCH_HARNESS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// The path of a built artifact that the tests run or install: the value of
// APPLAUNCHER_TEST_<name> when that is set (the same artifacts built for
// another machine, started through APPLAUNCHER_TEST_EMULATOR), else
// `built`, the path compiled in.
const char *testArtifact(const char *name, const char *built);

// Every artifact path compiled in is read through testArtifact from here
// on, under its own name.
#ifdef LAUNCHER_BINARY
inline constexpr const char *launcherBinaryBuilt = LAUNCHER_BINARY;
#undef LAUNCHER_BINARY
#define LAUNCHER_BINARY testArtifact("LAUNCHER_BINARY", launcherBinaryBuilt)
#endif
#ifdef AUX_LIBRARY
inline constexpr const char *auxLibraryBuilt = AUX_LIBRARY;
#undef AUX_LIBRARY
#define AUX_LIBRARY testArtifact("AUX_LIBRARY", auxLibraryBuilt)
#endif
#ifdef AUX_NO_CREATE_LIBRARY
inline constexpr const char *auxNoCreateLibraryBuilt = AUX_NO_CREATE_LIBRARY;
#undef AUX_NO_CREATE_LIBRARY
#define AUX_NO_CREATE_LIBRARY testArtifact("AUX_NO_CREATE_LIBRARY", auxNoCreateLibraryBuilt)
#endif
#ifdef RUNTIME_LIBRARY
inline constexpr const char *runtimeLibraryBuilt = RUNTIME_LIBRARY;
#undef RUNTIME_LIBRARY
#define RUNTIME_LIBRARY testArtifact("RUNTIME_LIBRARY", runtimeLibraryBuilt)
#endif
#ifdef NO_EXPORTS_LIBRARY
inline constexpr const char *noExportsLibraryBuilt = NO_EXPORTS_LIBRARY;
#undef NO_EXPORTS_LIBRARY
#define NO_EXPORTS_LIBRARY testArtifact("NO_EXPORTS_LIBRARY", noExportsLibraryBuilt)
#endif
#ifdef DATA_ENTRY_LIBRARY
inline constexpr const char *dataEntryLibraryBuilt = DATA_ENTRY_LIBRARY;
#undef DATA_ENTRY_LIBRARY
#define DATA_ENTRY_LIBRARY testArtifact("DATA_ENTRY_LIBRARY", dataEntryLibraryBuilt)
#endif
#ifdef REFERENCE_AUX_LIBRARY
inline constexpr const char *referenceAuxLibraryBuilt = REFERENCE_AUX_LIBRARY;
#undef REFERENCE_AUX_LIBRARY
#define REFERENCE_AUX_LIBRARY testArtifact("REFERENCE_AUX_LIBRARY", referenceAuxLibraryBuilt)
#endif
#ifdef ALLOC_FAILURE_LAUNCHER
inline constexpr const char *allocFailureLauncherBuilt = ALLOC_FAILURE_LAUNCHER;
#undef ALLOC_FAILURE_LAUNCHER
#define ALLOC_FAILURE_LAUNCHER testArtifact("ALLOC_FAILURE_LAUNCHER", allocFailureLauncherBuilt)
#endif
#ifdef INTERRUPTING_IO_LIBRARY
inline constexpr const char *interruptingIoLibraryBuilt = INTERRUPTING_IO_LIBRARY;
#undef INTERRUPTING_IO_LIBRARY
#define INTERRUPTING_IO_LIBRARY testArtifact("INTERRUPTING_IO_LIBRARY", interruptingIoLibraryBuilt)
#endif

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
    int waitStatus = 0;  // as waitpid gave it
};

// Starts `argv` (argv[0] is the program's path) with exactly `env`, in
// `dir`: standard input on /dev/null, standard output and error into
// dir/<tag>.out and dir/<tag>.err, no other descriptor, every signal at its
// default disposition and unblocked. `inChild`, when given, runs in the
// child just before the program (to give it another standard error, a
// limit and the like). Returns the process id, for finishProgram.
pid_t startProgram(const std::string &dir, const std::string &tag, std::vector<std::string> argv,
                   const std::map<std::string, std::string> &env,
                   const std::function<void()> &inChild = nullptr);

// Waits for the process `pid` that startProgram started with `dir` and
// `tag`; returns how it ended and what it wrote.
LaunchResult finishProgram(pid_t pid, const std::string &dir, const std::string &tag);

// For startProgram's inChild: standard error becomes a pipe whose reader
// has gone.
void stderrToAbandonedPipe();

// Sets every signal this process can change to its default disposition,
// unblocked (glibc's own signals keep theirs), as startProgram does.
void defaultSignalState();

// A debug line split into its process id and message.
struct DebugLine {
    pid_t pid;
    std::string message;
};

// The environment every launch starts from: PATH is fakebin alone,
// TEST_RECORDS, AUX_RUNTIME names the runtime double, debug output on.
std::map<std::string, std::string> baseEnvironment(const AppTree &tree);

// The words that start the launcher at `path`: the words of
// APPLAUNCHER_TEST_EMULATOR (e.g. "qemu-aarch64 -L /usr/aarch64-linux-gnu",
// for a launcher built for another machine) when set, then `path`.
std::vector<std::string> launcherCommand(const std::string &path);

// Runs the launcher with argv[0] = `argv0` (the executable's path when
// empty) and `args` after it. APPLAUNCHER_TEST_WRAPPER, when set, is put
// in front of the command line (for valgrind), before the emulator's words.
LaunchResult runLauncher(const AppTree &tree, const std::vector<std::string> &args,
                         const std::map<std::string, std::string> &env,
                         const std::string &argv0 = "");

// Runs `prefix` followed by the launcher's command (launcherCommand) and
// `args`, in place of the wrapper, for tests that start the launcher
// through another command.
LaunchResult runLauncherUnder(const std::vector<std::string> &prefix, const AppTree &tree,
                              const std::vector<std::string> &args,
                              const std::map<std::string, std::string> &env);

// Runs `words` (words[0] a path) as runLauncher runs the launcher: in the
// tree's root, output captured, environment `env`.
LaunchResult runCommand(const AppTree &tree, const std::vector<std::string> &words,
                        const std::map<std::string, std::string> &env);

// Whether the launcher runs under another program (the wrapper or the
// emulator), which then gives it argv[0] itself.
bool launcherIsWrapped();

// Whether the launcher runs under APPLAUNCHER_TEST_EMULATOR.
bool launcherIsEmulated();

// The words of a command prefix that runs the rest of its command line in
// a mount namespace of its own after the shell commands `setup` succeeded
// there. Tried in turn, with `setup` run for real: a plain mount namespace
// (needs CAP_SYS_ADMIN), then one inside a new user namespace (needs
// unprivileged user namespaces, refused in a chroot). Mounts keep the
// propagation they had, so `setup` makes private what it mounts on. Empty
// when neither could be had, with what each attempt answered in `*refusals`.
std::vector<std::string> privateMountNamespace(const AppTree &tree, const std::string &setup,
                                               std::string *refusals);

// The words of a command prefix that contains what it runs: a time limit of
// `seconds` (killed 5 s later if it lingers), inside the first process
// namespace that can be had here, ended with its first process: one with
// its own /proc (needs CAP_SYS_ADMIN and a mount namespace), the same inside
// a user namespace mapping the current user to itself, one that shares
// /proc (a chroot), else none. `*how` says which, or why none.
std::vector<std::string> containedPrefix(const AppTree &tree, int seconds, std::string *how);

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

// The lines "<key>=VALUE" of the text file records/<file>, as VALUEs in order.
std::vector<std::string> recordedLines(const AppTree &tree, const std::string &file,
                                       const std::string &key);

// The full path of the command `name` on this process's PATH, or "".
std::string commandPath(const std::string &name);

// Why a launcher copy with a file capability or a set-user-id bit cannot be
// started here by the unprivileged user nobody ("" when it can: root, with
// setcap and setpriv); stores where setpriv is.
std::string privilegedStartUnavailable(std::string *setpriv);

// What a launcher copy is given before an unprivileged caller starts it.
enum class Privilege { none, capability, setUserIdRoot };

// Gives the file at `path` `privilege`, taking back any other first: the
// file capability cap_net_bind_service=+ep, or root as owner with the
// set-user-id bit. False when this file system takes none (whether the
// kernel then honours it shows as AT_SECURE in the started process).
bool grantPrivilege(const std::string &path, Privilege privilege);

// The words that run the rest of a command line as the user and group
// nobody (65534) with no supplementary group, through `setpriv`.
std::vector<std::string> asNobody(const std::string &setpriv);

// Lets the user nobody run the tree's launcher and write its records: the
// tree's directories writable by their owner alone, records/ by everyone.
void openToOthers(const AppTree &tree);

// Waits up to `seconds` for every orphaned descendant of a process that made
// itself their subreaper; returns how each ended ("exit N", "signal N"),
// followed by "still running" when the time ran out.
std::vector<std::string> reapOrphans(double seconds);

#endif
