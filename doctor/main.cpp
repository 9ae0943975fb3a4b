// applauncher-doctor: says, step by step, how the launcher installed at a
// path would start with given arguments, or whether an auxiliary library
// keeps the binary contract, running the launcher's own code to find out.
#include <libgen.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "auxlib_check.h"
#include "child.h"
#include "launcher.h"
#include "launch_step.h"
#include "package_step.h"
#include "report_output.h"
#include "runtime_step.h"
#include "steps.h"

namespace {

const char usageText[] =
    "usage: applauncher-doctor [--json] [--timeout SECONDS] EXE [ARG...]\n"
    "       applauncher-doctor [--json] [--timeout SECONDS] --auxlib LIB [ARG...]\n"
    "\n"
    "Explains, one numbered step a line, how the launcher installed at EXE would\n"
    "start with the arguments ARG: its real path, the package that owns it, where\n"
    "its auxiliary library is, the library's exports, the launch data it builds\n"
    "(checked by the launcher's record check), and the runtime library it names.\n"
    "The runtime's entry is never called. --auxlib checks the auxiliary library\n"
    "LIB alone against the binary contract, run twice.\n"
    "\n"
    "  --json             one JSON document instead of lines (bytes that are not\n"
    "                     UTF-8 become U+FFFD)\n"
    "  --timeout SECONDS  how long each library or query may take (default 10)\n"
    "\n"
    "Exit status: 0 it would start (the library keeps the contract), 1 it would\n"
    "not, 2 usage error.\n";

// What the command line asks for.
struct Options {
    bool json = false;
    bool auxlib = false;
    double timeout = 10;
    std::string target;
    std::vector<std::string> args;
};

// Ends the doctor on a terminal's signals without leaving a child behind.
void endOnSignal(int sig) {
    killRunningChild();
    (void)signal(sig, SIG_DFL);
    (void)raise(sig);
}

// Says what is wrong with the command line and how it goes; returns 2.
int usageError(const std::string &problem) {
    (void)fprintf(stderr, "applauncher-doctor: %s\n%s", problem.c_str(), usageText);
    return 2;
}

// Reads the options before the target; returns -1 when the run goes on,
// else the exit status.
int parseOptions(int argc, char **argv, Options *options) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        std::string option = argv[i];
        if (option == "--") {
            i++;
            break;
        }
        if (option == "--help") {
            (void)fputs(usageText, stdout);
            return 0;
        }
        if (option == "--json") {
            options->json = true;
        } else if (option == "--auxlib") {
            options->auxlib = true;
        } else if (option == "--timeout" && i + 1 < argc) {
            char *end = nullptr;
            options->timeout = strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(options->timeout > 0) ||
                options->timeout > 86400) {
                return usageError(std::string("--timeout needs a number of seconds, not \"") +
                                  argv[i] + "\"");
            }
        } else {
            return usageError("unknown option " + option);
        }
    }
    if (i >= argc) {
        return usageError(options->auxlib ? "--auxlib needs a library" : "no executable given");
    }
    options->target = argv[i++];
    options->args.assign(argv + i, argv + argc);
    return -1;
}

// The steps for the launcher at `exe` started with `args`.
Report diagnoseApplication(const std::string &exe, const std::vector<std::string> &args) {
    std::string copy = exe;
    Report report{basename(&copy[0]), "would start", "would not start", {}};
    LibraryLocation location = locateLibrary(exe, report);
    if (location.library.empty()) {
        return report;
    }
    // The reference library reads the configuration of the program it
    // runs in; here that is the doctor, so it is told which launcher.
    std::string realExe = location.realExe;
    (void)setenv("APPLAUNCHER_PROGRAM", basename(&realExe[0]), 1);
    std::vector<std::string> argv = {exe};
    argv.insert(argv.end(), args.begin(), args.end());
    int32_t size = 0;
    KivlLauncherData *record = obtainLaunchData(location.library, argv, report, &size);
    if (record != nullptr) {
        checkRuntime(record, report);
        free(record);
    }
    return report;
}

}  // namespace

int main(int argc, char **argv) {
    occupyStandardDescriptors();
    (void)signal(SIGCHLD, SIG_DFL);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        if (signal(sig, endOnSignal) == SIG_IGN) {
            (void)signal(sig, SIG_IGN);
        }
    }
    Options options;
    int status = parseOptions(argc, argv, &options);
    if (status >= 0) {
        return status;
    }
    setChildTimeLimit(options.timeout);
    Report report;
    if (options.auxlib) {
        std::string library = options.target;
        char resolved[PATH_MAX];
        if (realpath(library.c_str(), resolved) != nullptr) {
            library = resolved;
        } else if (library.find('/') == std::string::npos) {
            library = "./" + library;
        }
        std::vector<std::string> command = {"applauncher"};
        command.insert(command.end(), options.args.begin(), options.args.end());
        report = checkAuxLibrary(library, command);
    } else {
        report = diagnoseApplication(options.target, options.args);
    }
    if (options.json) {
        printJson(report, stdout);
    } else {
        printText(report, stdout);
    }
    return fflush(stdout) == 0 && reportPasses(report) ? 0 : 1;
}
