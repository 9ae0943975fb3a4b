#include "runtime_step.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "child.h"
#include "launcher.h"
#include "record_handoff.h"

extern char **environ;

namespace {

const char libraryStep[] = "runtime library";
const char checkStep[] = "runtime check";

HuxCheckFn runtimeCheck = nullptr;
const KivlLauncherData *checkedRecord = nullptr;

// Reports, as events "unset=<index>", each launch data variable that
// kivLauncherStartKiv could not set: its name does not hold its value (the
// last value given for that name, when a name comes more than once).
void reportUnsetVariables() {
    const KivlLauncherData *record = checkedRecord;
    std::map<std::string, const char *> lastValues;
    for (int32_t i = 0; i < record->envCount; i++) {
        lastValues[record->envNames[i]] = record->envValues[i];
    }
    for (int32_t i = 0; i < record->envCount; i++) {
        const char *value = getenv(record->envNames[i]);
        if (value == nullptr || strcmp(value, lastValues[record->envNames[i]]) != 0) {
            childEvent("unset", std::to_string(i));
        }
    }
}

// Stands in for HUX_Launch when kivLauncherStartKiv has set the launch
// data's variables: asks HUX_Check, when there is one, and reports it.
int32_t checkInEntryPlace(int32_t argCount, char **args, uint64_t, uint64_t, uint64_t, uint64_t,
                          const char *, const char *, const char *, const char *, uint64_t,
                          uint64_t, uint64_t, uint64_t) {
    reportUnsetVariables();
    if (runtimeCheck == nullptr) {
        childEvent("no-check", "");
        return 0;
    }
    childEvent("stage", "HUX_Check");
    char message[4096] = "";
    int32_t status = runtimeCheck(message, (int32_t)sizeof message, argCount, args);
    message[sizeof message - 1] = '\0';
    childEvent("check-message", message);
    childEvent("check", std::to_string(status));
    return 0;
}

// The child's part: the launcher's parent's loading, then the check.
int runtimeChild(const KivlLauncherData *record) {
    childEvent("stage", "dlopen");
    void *runtime = dlopen(record->runtimeLibPath, RTLD_NOW | RTLD_NODELETE);
    if (runtime == nullptr) {
        kivLauncherLog("%s", loaderError());
        return 1;
    }
    childEvent("loaded", "");
    bool isData = false;
    HuxLaunchFn entry = findRuntimeEntry(runtime, &isData);
    if (isData) {
        childEvent("data-entry", "");
    } else if (entry != nullptr) {
        childEvent("entry", "");
        runtimeCheck = (HuxCheckFn)dlsym(runtime, "HUX_Check");
        checkedRecord = record;
        (void)kivLauncherStartKiv(record, checkInEntryPlace);
    }
    dlclose(runtime);
    return 0;
}

// dl_iterate_phdr callback: stores the PT_INTERP path of the first
// object, the program, in the std::string `found`, and stops.
int findInterpreter(dl_phdr_info *info, size_t, void *found) {
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; i++) {
        if (info->dlpi_phdr[i].p_type == PT_INTERP) {
            *(std::string *)found = (const char *)(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
        }
    }
    return 1;  // the first object is the program itself
}

// The number of entries before the null one.
size_t countEntries(char **entries) {
    size_t count = 0;
    while (entries[count] != nullptr) {
        count++;
    }
    return count;
}

// This program's dynamic loader, the one the launcher uses too.
std::string loaderPath() {
    std::string path;
    dl_iterate_phdr(findInterpreter, &path);
    return path;
}

// The failed library step for a runtime library that did not load.
void loadFailure(const std::string &path, const ChildRun &run, Report &report) {
    if (run.timedOut || run.signal != 0 || run.logLines.empty()) {
        Step &step = failStep(report, libraryStep,
                              "the process " + describeEnd(run) + " loading it",
                              "the runtime library's initialisation fails: the launcher would "
                              "end the same way");
        addDetail(step, outputLines(run), "output: ");
        return;
    }
    std::string error = run.logLines.front();
    if (access(path.c_str(), F_OK) != 0) {
        failStep(report, libraryStep, "does not load: " + error,
                 "no file at " + path + ": make the launch data name the runtime library "
                 "where it is installed (for the reference library, the runtime= line of "
                 "applauncher.cfg)");
        return;
    }
    std::vector<std::string> needs = unresolvedNeeds(path);
    std::string missing;
    for (const std::string &need : needs) {
        if (need.find(" => not found") != std::string::npos) {
            missing += (missing.empty() ? "" : ", ") + need.substr(0, need.find(" => "));
        }
    }
    Step &step = failStep(report, libraryStep, "does not load: " + error,
                          !missing.empty()
                              ? "install " + missing + " where the dynamic loader finds it "
                                "(the runtime library's RUNPATH, the system's library "
                                "directories), or declare the package that provides it"
                              : "the dynamic loader refuses the runtime library: fix what it "
                                "says");
    if (!needs.empty()) {
        step.detail.push_back("the dynamic loader's trace of its needed libraries:");
    }
    for (const std::string &need : needs) {
        step.detail.push_back("  " + need);
    }
}

// The hint in a check's message: the part after its last ": ", where the
// runtime libraries say what to do; the whole message when there is none.
std::string remedyOf(const std::string &message) {
    size_t colon = message.rfind(": ");
    return colon != std::string::npos && colon + 2 < message.size() ? message.substr(colon + 2)
                                                                     : message;
}

// The check step, from what the child's HUX_Check reported.
void checkResultStep(const ChildRun &run, Report &report) {
    if (hadEvent(run, "no-check")) {
        passStep(report, checkStep, "not checked: the runtime library has no HUX_Check");
        return;
    }
    std::string message = lastEvent(run, "check-message");
    if (!hadEvent(run, "check")) {
        Step &step = failStep(report, checkStep, "HUX_Check: the process " + describeEnd(run),
                              "HUX_Check itself fails; the launcher never calls it, but "
                              "HUX_Launch may well fail the same way");
        addDetail(step, outputLines(run), "output: ");
        return;
    }
    if (lastEvent(run, "check") == "0") {
        Step &step =
            passStep(report, checkStep, message.empty() ? "HUX_Check finds no problem" : message);
        addDetail(step, outputLines(run), "output: ");
        return;
    }
    Step &step = failStep(report, checkStep,
                          message.empty() ? "HUX_Check returned " + lastEvent(run, "check")
                                          : message,
                          message.empty() ? "the runtime library says nothing more"
                                          : remedyOf(message));
    addDetail(step, outputLines(run), "output: ");
}

}  // namespace

std::vector<std::string> unresolvedNeeds(const std::string &path) {
    std::string loader = loaderPath();
    if (loader.empty() || path.find('/') == std::string::npos) {
        return {};
    }
    ChildRun run = runInChild([&loader, &path](int) {
        std::vector<std::string> texts = {"LD_TRACE_LOADED_OBJECTS=1", "LD_BIND_NOW=1",
                                          "LD_WARN=yes"};
        std::vector<char *> env = argvOf(texts);
        env.insert(env.end() - 1, environ, environ + countEntries(environ));
        std::string program = loader;
        std::string library = path;
        char *argv[] = {&program[0], &library[0], nullptr};
        execve(program.c_str(), argv, env.data());
        return 127;
    });
    std::vector<std::string> needs;
    for (std::string line : outputLines(run)) {
        line.erase(0, line.find_first_not_of(" \t"));
        std::replace(line.begin(), line.end(), '\t', ' ');
        if (line.find(" => not found") != std::string::npos ||
            line.compare(0, 18, "undefined symbol: ") == 0) {
            needs.push_back(line);
        }
    }
    return needs;
}

void checkRuntime(const KivlLauncherData *record, Report &report) {
    std::string path = record->runtimeLibPath;
    ChildRun run = runInChild([record](int) { return runtimeChild(record); });
    if (!hadEvent(run, "loaded")) {
        loadFailure(path, run, report);
        return;
    }
    if (hadEvent(run, "data-entry")) {
        failStep(report, libraryStep, "its HUX_Launch is not a function but data",
                 "define HUX_Launch as a function, int32_t HUX_Launch(...) as "
                 "hux_runtime_api.h declares it: the launcher refuses to call data");
        return;
    }
    if (!hadEvent(run, "entry")) {
        Step &step = failStep(report, libraryStep, "does not export HUX_Launch",
                              "export int32_t HUX_Launch(...) under this unmangled name with "
                              "default visibility: it is the runtime's entry");
        step.detail.push_back(run.logLines.empty() ? "" : run.logLines.front());
        return;
    }
    Step &step = passStep(report, libraryStep, "loads and exports HUX_Launch");
    step.detail.push_back("every needed library resolves: the dynamic loader loaded it with "
                          "immediate binding, as the launcher loads it");
    for (const std::string &event : run.events) {
        if (event.compare(0, 6, "unset=") == 0) {
            step.detail.push_back("note: setenv(" + event.substr(6) + ") failed: the launcher "
                                  "would start the runtime without that variable");
        }
    }
    checkResultStep(run, report);
}
