#include "package_step.h"

#include <errno.h>
#include <libgen.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "child.h"
#include "locator.h"

namespace {

// One command the locator ran, as its observer was told of it.
struct Query {
    std::string command;
    std::vector<std::string> output;
    bool ended = false;
    int status = -1;
};

// What the locator did, told apart: the owner queries, the owner it found
// and the listing query that followed.
struct LocatorTrace {
    std::vector<Query> ownerQueries;
    std::vector<Query> listing;
    std::string owner;
    int ownerType = 0;
};

// The locator's observer in the child: each call becomes an event for the
// parent, in the order the calls came.
void sendQueryStarted(void *, const char *command) {
    childEvent("query", command);
}

void sendQueryLine(void *, const char *line) {
    childEvent("query-line", line);
}

void sendQueryEnded(void *, int32_t status) {
    childEvent("query-exit", std::to_string(status));
}

void sendOwnerFound(void *, const char *name, int32_t type) {
    childEvent("owner", std::to_string(type) + "|" + name);
}

const LocatorObserver childObserver = {nullptr, sendQueryStarted, sendQueryLine, sendQueryEnded,
                                       sendOwnerFound};

// The locator's queries and owner as the child's events tell them, in the
// order they came.
LocatorTrace traceOf(const ChildRun &run) {
    LocatorTrace trace;
    bool ownerSeen = false;
    for (const std::string &event : run.events) {
        size_t equals = event.find('=');
        std::string key = event.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : event.substr(equals + 1);
        std::vector<Query> &queries = ownerSeen ? trace.listing : trace.ownerQueries;
        if (key == "query") {
            queries.push_back(Query{value, {}, false, -1});
        } else if (key == "query-line" && !queries.empty()) {
            queries.back().output.push_back(value);
        } else if (key == "query-exit") {
            if (queries.empty() || queries.back().ended) {
                queries.push_back(Query{"(command not built)", {}, false, -1});
            }
            queries.back().ended = true;
            queries.back().status = (int)strtol(value.c_str(), nullptr, 10);
        } else if (key == "owner") {
            size_t bar = value.find('|');
            trace.ownerType = (int)strtol(value.c_str(), nullptr, 10);
            trace.owner = value.substr(bar + 1);
            ownerSeen = true;
        }
    }
    return trace;
}

// pclose's wait status in words.
std::string statusText(int status) {
    if (status == -1) {
        return "not started";
    }
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        return "exit status " + std::to_string(code) +
               (code == 127 ? ": the shell did not find the command" : "");
    }
    if (WIFSIGNALED(status)) {
        return "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return "wait status " + std::to_string(status);
}

// Adds each query with its status and output lines, at most `shown`
// output lines each (the rest counted).
void addQueries(Step &step, const std::vector<Query> &queries, size_t shown) {
    for (const Query &query : queries) {
        step.detail.push_back(query.command + ": " +
                              (query.ended ? statusText(query.status) : "did not finish"));
        for (size_t i = 0; i < query.output.size() && i < shown; i++) {
            step.detail.push_back("  | " + query.output[i]);
        }
        if (shown > 0 && query.output.size() > shown) {
            step.detail.push_back("  | ... " + std::to_string(query.output.size() - shown) +
                                  " more lines");
        }
    }
}

// The package type the locator logs (1 rpm, 2 deb) as its name.
std::string packageKind(int type) {
    return type == 1 ? "rpm" : type == 2 ? "deb" : "type " + std::to_string(type);
}

// <directory above the executable's directory>/lib/libapplauncher.so.
std::string ownLibraryOf(const std::string &realExe) {
    std::string copy = realExe;
    std::string root = dirname(dirname(&copy[0]));
    return (root == "/" ? "" : root) + "/lib/libapplauncher.so";
}

// For a name without a slash, the first executable regular file of that
// name in PATH's directories (an empty entry being the current one), as a
// shell finds the command; else `exe` itself.
std::string findCommand(const std::string &exe) {
    const char *path = getenv("PATH");
    if (exe.find('/') != std::string::npos || path == nullptr) {
        return exe;
    }
    std::string dirs = path;
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = std::min(dirs.find(':', start), dirs.size());
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + exe;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return exe;
}

// Step 1: the executable exists, is a regular file and may be run; its
// real path is what the launcher sees in /proc/self/exe.
bool checkExecutable(const std::string &given, Report &report, std::string *realExe) {
    std::string exe = findCommand(given);
    char resolved[PATH_MAX];
    if (realpath(exe.c_str(), resolved) == nullptr) {
        failStep(report, "executable", exe + ": " + strerror(errno),
                 "give the path of the application's program (its bin/ launcher, or a "
                 "symbolic link to it)");
        return false;
    }
    struct stat info {};
    if (stat(resolved, &info) != 0 || !S_ISREG(info.st_mode)) {
        failStep(report, "executable", std::string(resolved) + " is not a regular file",
                 "give the path of the application's program, not a directory");
        return false;
    }
    if (access(resolved, X_OK) != 0) {
        failStep(report, "executable", std::string(resolved) + ": " + strerror(errno),
                 std::string("make it executable: chmod +x ") + resolved);
        return false;
    }
    *realExe = resolved;
    Step &step = passStep(report, "executable", resolved);
    if (exe != given) {
        step.detail.push_back(given + " is " + exe + " on PATH");
    }
    if (exe != resolved) {
        step.detail.push_back(exe + " resolves to it; the launcher finds itself through "
                                    "/proc/self/exe and asks about this path");
    }
    if ((info.st_mode & (S_ISUID | S_ISGID)) != 0) {
        step.detail.push_back("note: it is set-user-id or set-group-id, so the launcher runs "
                              "the package queries with PATH=/usr/sbin:/usr/bin:/sbin:/bin and "
                              "without the caller's package manager variables; this doctor "
                              "runs them with your environment");
    }
    return true;
}

// Step 2: who owns the executable, by the owner queries.
bool ownerStep(const LocatorTrace &trace, const ChildRun &run, Report &report) {
    bool known = !trace.owner.empty();
    if (!known && !endedCleanly(run)) {
        std::string running = !trace.ownerQueries.empty() && !trace.ownerQueries.back().ended
                                  ? trace.ownerQueries.back().command
                                  : "the package query";
        Step &step = failStep(report, "package owner", running + " " + describeEnd(run),
                              "the launcher would wait for it for ever: make the query "
                              "answer (is the package database locked or broken?)");
        addQueries(step, trace.ownerQueries, 20);
        return false;
    }
    Step &step = passStep(report, "package owner",
                          known ? "package " + trace.owner + " (" +
                                      packageKind(trace.ownerType) + ")"
                                : "none");
    addQueries(step, trace.ownerQueries, 20);
    return true;
}

// Step 3 when a package owns the executable: its listing decides.
bool listedLibraryStep(const LocatorTrace &trace, const ChildRun &run,
                       const std::string &answer, const std::string &realExe, Report &report) {
    const std::string name = "auxiliary library";
    const std::string owner = "package " + trace.owner;
    const Query *listing = trace.listing.empty() ? nullptr : &trace.listing.back();
    if (!answer.empty()) {
        Step &step = passStep(report, name, answer);
        step.detail.push_back("listed by " + owner + ", path " +
                              std::to_string(listing != nullptr ? listing->output.size() : 0) +
                              " of its file list");
        addQueries(step, trace.listing, 0);
        if (answer != ownLibraryOf(realExe)) {
            step.detail.push_back("note: this is not the library beside the executable (" +
                                  ownLibraryOf(realExe) +
                                  "): the launcher takes the first libapplauncher.so the "
                                  "package lists");
        }
        return true;
    }
    Step *step = nullptr;
    if (!endedCleanly(run) || listing == nullptr || !listing->ended) {
        step = &failStep(report, name,
                         "the file list of " + owner + " " + describeEnd(run),
                         "the launcher would wait for it for ever: make the listing answer");
    } else if (listing->status != 0) {
        step = &failStep(report, name,
                         "the file list of " + owner + " could not be read (" +
                             statusText(listing->status) + ")",
                         "make `" + listing->command +
                             "` succeed: the launcher takes the library from that list alone, "
                             "and not from a failed one");
    } else {
        step = &failStep(report, name, owner + " does not list a libapplauncher.so",
                         "add lib/libapplauncher.so to " + owner + " (" +
                             ownLibraryOf(realExe) +
                             "): the launcher takes the library from the file list of the "
                             "package that owns the executable, and does not fall back");
    }
    addQueries(*step, trace.listing, 0);
    if (endedCleanly(run) && listing != nullptr && listing->ended && listing->status == 0) {
        step->detail.push_back(std::to_string(listing->output.size()) +
                               " listed paths, none ending in /libapplauncher.so");
        for (const std::string &line : listing->output) {
            if (line.find("libapplauncher") != std::string::npos) {
                step->detail.push_back("near miss: " + line);
            }
        }
    }
    return false;
}

}  // namespace

LibraryLocation locateLibrary(const std::string &exe, Report &report) {
    LibraryLocation found;
    if (!checkExecutable(exe, report, &found.realExe)) {
        return found;
    }
    const std::string &realExe = found.realExe;
    ChildRun run = runInChild([&realExe](int) {
        char *path = getKivLauncherLibPathOf(realExe.c_str(), &childObserver);
        if (path != nullptr) {
            childEvent("library", path);
        }
        free(path);
        return 0;
    });
    LocatorTrace trace = traceOf(run);
    std::string answer = lastEvent(run, "library");
    if (!ownerStep(trace, run, report)) {
        return found;
    }
    if (!trace.owner.empty()) {
        if (listedLibraryStep(trace, run, answer, realExe, report)) {
            found.library = answer;
        }
        return found;
    }
    if (answer.empty()) {
        Step &step = failStep(report, "auxiliary library", "no path " + describeEnd(run),
                              "the locator could not form the path: see the lines above");
        step.detail = run.logLines;
        return found;
    }
    Step &step = passStep(report, "auxiliary library", answer);
    step.detail.push_back("no package owns the executable, so the launcher takes "
                          "lib/libapplauncher.so in the directory above its bin/");
    found.library = answer;
    return found;
}
