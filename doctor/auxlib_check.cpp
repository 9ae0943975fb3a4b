#include "auxlib_check.h"

#include <stdlib.h>
#include <unistd.h>

#include "contract_probe.h"

namespace {

// The smallest block: the record alone.
const long minimumSize = (long)sizeof(KivlLauncherData);

// When event `key` never came, the process ended before it: appends the
// failed step `name` saying how and where, and returns true.
bool endedBefore(const ProbeRun &probe, const std::string &key, const std::string &name,
                 Report &report) {
    if (hadEvent(probe.run, key)) {
        return false;
    }
    Step &step = failStep(report, name,
                          "the process " + describeEnd(probe.run) + " in " +
                              lastEvent(probe.run, "stage", "its start"),
                          "the launcher's child would end the same way, and the launcher with "
                          "status 1 and no word: debug the library there");
    addDetail(step, outputLines(probe.run), "output: ");
    return true;
}

// Each step below appends its step to `report` and returns whether it
// passed.

// The library loads: else the loader's refusal, or a crash in its
// initialisation.
bool loadsStep(const std::string &library, const ProbeRun &probe, Report &report) {
    std::string error = lastEvent(probe.run, "dlopen-error");
    if (!error.empty()) {
        failStep(report, "loads", error,
                 access(library.c_str(), F_OK) != 0
                     ? "no file at " + library + ": give the path of the library to check"
                     : "fix what the dynamic loader says (a missing dependency, a file for "
                       "another machine, no library)");
        return false;
    }
    if (lastEvent(probe.run, "stage", "dlopen") == "dlopen") {
        Step &step = failStep(report, "loads", "the process " + describeEnd(probe.run) +
                                                   " loading the library",
                              "the library's initialisation fails: the launcher's child would "
                              "end the same way");
        addDetail(step, outputLines(probe.run), "output: ");
        return false;
    }
    passStep(report, "loads", "with immediate binding, as the launcher loads it");
    return true;
}

// Both names are exported.
bool exportsStep(const ProbeRun &probe, Report &report) {
    std::string missing;
    for (const std::string &event : probe.run.events) {
        if (event.compare(0, 8, "missing=") == 0) {
            missing += (missing.empty() ? "" : " and ") + event.substr(8);
        }
    }
    if (!missing.empty()) {
        failStep(report, "exports", missing + " not exported",
                 "export kivLauncherGetAPI and kivLauncherCreate under these unmangled names "
                 "(extern \"C\", default visibility)");
        return false;
    }
    passStep(report, "exports", "kivLauncherGetAPI and kivLauncherCreate");
    return true;
}

// kivLauncherGetAPI gives a table whose three entries are set.
bool tableStep(const ProbeRun &probe, Report &report) {
    if (endedBefore(probe, "table", "table", report)) {
        return false;
    }
    if (lastEvent(probe.run, "table") == "null") {
        failStep(report, "table", "kivLauncherGetAPI returned null",
                 "return the library's function table (a static const KivlLauncherAPI, never "
                 "freed)");
        return false;
    }
    std::string nulls = nullEntries(probe);
    if (!nulls.empty()) {
        failStep(report, "table", "null entries: " + nulls,
                 "set release, getDataSize and fillData: the launcher calls each of them");
        return false;
    }
    passStep(report, "table", "release, getDataSize and fillData set");
    return true;
}

// kivLauncherCreate gives a handle, or the library's reason.
bool handleStep(const ProbeRun &probe, Report &report) {
    if (endedBefore(probe, "handle", "handle", report)) {
        return false;
    }
    if (lastEvent(probe.run, "handle") == "null") {
        std::vector<std::string> said = outputLines(probe.run);
        Step &step = failStep(report, "handle", "kivLauncherCreate returned null",
                              said.empty() ? "return a handle, or say why not in one line on "
                                             "standard error: the launcher says nothing"
                                           : "correct what the library reports: " + said.back());
        addDetail(step, outputLines(probe.run), "output: ");
        return false;
    }
    passStep(report, "handle", "kivLauncherCreate returned a handle");
    return true;
}

// getDataSize asks for at least the 40-byte record.
bool sizeStep(const ProbeRun &probe, Report &report) {
    if (endedBefore(probe, "size", "size", report)) {
        return false;
    }
    std::string size = lastEvent(probe.run, "size");
    long bytes = strtol(size.c_str(), nullptr, 10);
    if (bytes < minimumSize) {
        std::string meaning = bytes <= 0 ? ": the launcher does not start"
                                         : ", less than the record";
        Step &step = failStep(report, "size", "getDataSize returned " + size + meaning,
                              "return the block's size in bytes, at least " +
                                  std::to_string(minimumSize) + " (the record alone)");
        addDetail(step, outputLines(probe.run), "output: ");
        return false;
    }
    passStep(report, "size", "getDataSize returned " + size);
    return true;
}

// fillData returns the buffer it was given.
bool fillStep(const ProbeRun &probe, Report &report) {
    if (endedBefore(probe, "fill", "fillData", report)) {
        return false;
    }
    std::string fill = lastEvent(probe.run, "fill");
    if (fill != "buffer") {
        failStep(report, "fillData",
                 fill == "null" ? "returned null" : "returned a pointer other than its buffer",
                 "build the block at the start of the buffer given and return that buffer");
        return false;
    }
    passStep(report, "fillData", "returned its buffer");
    return true;
}

// The frame arrived and passed the launcher's record check.
bool recordStep(const ProbeRun &probe, Report &report) {
    if (!probe.received) {
        Step &step = failStep(report, "record check",
                              probe.refusal.empty() ? "no frame arrived: the process " +
                                                          describeEnd(probe.run)
                                                    : probe.refusal,
                              "every pointer points into the block, no pointer field is null, "
                              "the arrays lie after the record and the strings after the "
                              "arrays, each ending with its zero inside the block");
        addDetail(step, outputLines(probe.run), "output: ");
        return false;
    }
    Step &step = passStep(report, "record check",
                          std::to_string(probe.data.size) + " bytes, accepted");
    addLaunchDataDetail(step, probe.data);
    addDetail(step, outputLines(probe.run), "output: ");
    return true;
}

// release was called once, with the handle, and returned; the library
// then unloaded.
bool releaseStep(const ProbeRun &probe, Report &report) {
    int calls = releaseCalls(probe);
    bool sameHandle = lastEvent(probe.run, "release") == "same";
    if (calls != 1 || !sameHandle || !hadEvent(probe.run, "released")) {
        failStep(report, "release",
                 calls != 1 ? "called " + std::to_string(calls) + " times"
                 : !sameHandle ? "called with another handle"
                               : "did not return: the process " + describeEnd(probe.run),
                 "release must free the handle it is given and return; the launcher calls it "
                 "once");
        return false;
    }
    if (lastEvent(probe.run, "stage") == "dlclose") {
        failStep(report, "release", "called once, but then the process " +
                                        describeEnd(probe.run) + " in " +
                                        lastEvent(probe.run, "stage"),
                 "the library's unloading fails (its destructors?)");
        return false;
    }
    passStep(report, "release", "called once, with the handle; the library unloads");
    return true;
}

// The second run gave the same launch data as the first.
void secondRunStep(const ProbeRun &first, const ProbeRun &second, Report &report) {
    if (!second.received) {
        failStep(report, "second run", "no record: " + whereItStopped(second),
                 "the library must give the same launch data each time it runs");
        return;
    }
    if (!sameLaunchData(second.data, first.data)) {
        Step &step = failStep(report, "second run", "different launch data",
                              "build the data from the command line, the environment and the "
                              "files alone (uninitialised memory? the process id? the time?)");
        addLaunchDataDetail(step, second.data);
        return;
    }
    passStep(report, "second run", "the same runtime library, arguments and variables");
}

}  // namespace

Report checkAuxLibrary(const std::string &library, const std::vector<std::string> &argv) {
    Report report{library, "keeps the contract", "breaks the contract", {}};
    ProbeRun first = probeLibrary(library, argv);
    if (loadsStep(library, first, report) && exportsStep(first, report) &&
        tableStep(first, report) && handleStep(first, report) && sizeStep(first, report) &&
        fillStep(first, report) && releaseStep(first, report) && recordStep(first, report)) {
        secondRunStep(first, probeLibrary(library, argv), report);
    }
    return report;
}
