#include "launch_step.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "child.h"
#include "contract_probe.h"
#include "launch_data.h"
#include "record_handoff.h"

namespace {

const char interfaceStep[] = "library interface";
const char dataStep[] = "launch data";

const char exportHint[] =
    "export kivLauncherGetAPI and kivLauncherCreate under these unmangled names "
    "(extern \"C\", default visibility)";
const char tableHint[] =
    "kivLauncherGetAPI must return the library's function table (a static const "
    "KivlLauncherAPI, never freed)";
const char fillHint[] =
    "fillData must build the block at the start of the buffer it is given and return that "
    "buffer: the launcher sends and frees only that buffer";
const char recordHint[] =
    "the block breaks the single-block rule: every pointer points into the block, no pointer "
    "field is null, the arrays lie after the record and the strings after the arrays, each "
    "ending with its zero inside the block";

// `word` as one shell word: as it is when it holds only characters no
// shell treats specially, else in single quotes.
std::string shellWord(const std::string &word) {
    if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstu"
                                                "vwxyz0123456789_./=:,+-@%") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The command that checks the library alone against the contract.
std::string auxlibCommand(const std::string &library, const std::vector<std::string> &argv) {
    std::string command = "applauncher-doctor --auxlib " + shellWord(library);
    for (size_t i = 1; i < argv.size(); i++) {
        command += " " + shellWord(argv[i]);
    }
    return command;
}

// What the library said last, or "" when it said nothing.
std::string lastOutputLine(const ChildRun &run) {
    std::vector<std::string> lines = outputLines(run);
    return lines.empty() ? "" : lines.back();
}

// Why obtainRecord gave no record in the child `run`, as it said.
RecordFailure failureOf(const ChildRun &run) {
    return (RecordFailure)strtol(lastEvent(run, "failure", "0").c_str(), nullptr, 10);
}

// The interface step, told from why obtainRecord stopped before a handle
// was asked for; the line it logged (the loader's text) is shown. Returns
// false after appending a failed step.
bool interfaceFromFailure(const std::string &library, const ChildRun &run, Report &report) {
    std::string logged = run.logLines.empty() ? "" : run.logLines.front();
    Step *step = nullptr;
    switch (failureOf(run)) {
    case recordTableMissing:
        step = &failStep(report, interfaceStep, "kivLauncherGetAPI returned no table", tableHint);
        break;
    case recordGetApiNotExported:
        step = &failStep(report, interfaceStep, "kivLauncherGetAPI is not exported", exportHint);
        break;
    case recordCreateNotExported:
        step = &failStep(report, interfaceStep, "kivLauncherCreate is not exported", exportHint);
        break;
    case recordLibraryNotLoaded:
        step = &failStep(report, interfaceStep, "does not load: " + logged,
                         access(library.c_str(), F_OK) == 0
                             ? "the dynamic loader refuses the library: fix what it says (a "
                               "missing dependency, a file for another machine, no library)"
                             : "put the application's auxiliary library at " + library);
        break;
    default:
        return true;
    }
    addDetail(*step, outputLines(run), "output: ");
    return false;
}

// For a run that crashed or hung: whether a second run, alone, stopped
// while the library was loaded or its table read, and where.
bool stoppedInInterface(const ProbeRun &probe) {
    std::string stage = lastEvent(probe.run, "stage");
    return !hadEvent(probe.run, "handle") &&
           (stage == "dlopen" || stage == "dlsym" || stage == "kivLauncherGetAPI");
}

// The failed launch data step for a library that gave no record.
void noRecordStep(const std::string &library, const std::vector<std::string> &argv,
                  const ChildRun &run, const ProbeRun &probe, Report &report) {
    std::string said = lastOutputLine(run);
    Step *step = nullptr;
    if (!endedCleanly(run)) {
        step = &failStep(report, dataStep,
                         "the library's process " + describeEnd(run),
                         "the launcher would end with status 1 and say nothing; debug the "
                         "library (" + auxlibCommand(library, argv) + " runs it alone)");
        step->detail.push_back("run again alone: " + whereItStopped(probe));
    } else if (!said.empty()) {
        step = &failStep(report, dataStep,
                         "the library declined (" + whereItStopped(probe) + "), saying: " + said,
                         "correct what the library reports: " + said);
    } else {
        step = &failStep(report, dataStep, "the library declined: " + whereItStopped(probe),
                         "the library says nothing on standard error; check it with " +
                             auxlibCommand(library, argv));
    }
    addDetail(*step, run.logLines, "the launcher's code logged: ");
    std::vector<std::string> output = outputLines(run);
    if (!said.empty() && endedCleanly(run)) {
        output.pop_back();  // the result quotes it
    }
    addDetail(*step, output, "output: ");
}

// The launch data step once the child has ended: the frame received and
// checked, or why none came.
KivlLauncherData *dataStepAfter(const std::string &library, const std::vector<std::string> &argv,
                                const ChildRun &run, Report &report, int32_t *size) {
    if (!run.data.empty()) {
        std::string refusal;
        bool rejected = false;
        KivlLauncherData *record = receiveFrame(run.data, size, &refusal, &rejected);
        if (record != nullptr) {
            Step &step = passStep(report, dataStep,
                                  std::to_string(*size) +
                                      " bytes, accepted by the launcher's record check");
            std::string line = "command line:";
            for (const std::string &word : argv) {
                line += " [" + word + "]";
            }
            step.detail.push_back(line);
            addLaunchDataDetail(step, launchDataOf(record, *size));
            addDetail(step, outputLines(run), "output: ");
            return record;
        }
        Step &step = failStep(report, dataStep, refusal,
                              rejected ? recordHint
                                       : "the frame came short: the library's process " +
                                             describeEnd(run) + "; check it with " +
                                             auxlibCommand(library, argv));
        if (!hadEvent(run, "sending")) {
            step.detail.push_back("these bytes did not come from the launcher's sendRecord: "
                                  "something else in the child wrote into the launcher's pipe");
        }
        addDetail(step, outputLines(run), "output: ");
        return nullptr;
    }
    if (failureOf(run) == recordFillOutsideBuffer) {
        Step &step = failStep(report, dataStep,
                              "fillData returned a pointer other than its buffer", fillHint);
        addDetail(step, outputLines(run), "output: ");
        return nullptr;
    }
    noRecordStep(library, argv, run, probeLibrary(library, argv), report);
    return nullptr;
}

}  // namespace

KivlLauncherData *obtainLaunchData(const std::string &library,
                                   const std::vector<std::string> &argv, Report &report,
                                   int32_t *size) {
    ChildRun run = runInChild([&library, &argv](int dataFd) {
        std::vector<std::string> texts = argv;
        std::vector<char *> words = argvOf(texts);
        int32_t built = 0;
        RecordFailure failure = recordObtained;
        KivlLauncherData *record =
            obtainRecord(library.c_str(), (int32_t)argv.size(), words.data(), &built, &failure);
        childEvent("failure", std::to_string((int)failure));
        int status = 0;
        if (record != nullptr) {
            childEvent("sending", std::to_string(built));
            status = sendRecord(dataFd, record, built);
            free(record);
        }
        return status;
    });
    if (!interfaceFromFailure(library, run, report)) {
        return nullptr;
    }
    bool refusedTable = failureOf(run) == recordTableEntryMissing;
    if (run.data.empty() && (!endedCleanly(run) || refusedTable)) {
        ProbeRun probe = probeLibrary(library, argv);
        if (!nullEntries(probe).empty()) {
            Step &step = failStep(report, interfaceStep,
                                  "its table has null entries: " + nullEntries(probe),
                                  "set release, getDataSize and fillData: the launcher calls "
                                  "each of them");
            step.detail.push_back(refusedTable ? "the launcher refuses such a table: " +
                                                     run.logLines.front()
                                               : "the library's process " + describeEnd(run) +
                                                     " when the launcher's code called one");
            addDetail(step, outputLines(run), "output: ");
            return nullptr;
        }
        if (stoppedInInterface(probe)) {
            Step &step = failStep(report, interfaceStep, "the library's process " +
                                                             describeEnd(run) + " loading it",
                                  "the launcher would end with status 1 and say nothing; "
                                  "debug the library's initialisation");
            step.detail.push_back("run again alone: " + whereItStopped(probe));
            addDetail(step, outputLines(run), "output: ");
            return nullptr;
        }
        passStep(report, interfaceStep, "loads, exports kivLauncherGetAPI and kivLauncherCreate");
        noRecordStep(library, argv, run, probe, report);
        return nullptr;
    }
    passStep(report, interfaceStep, "loads, exports kivLauncherGetAPI and kivLauncherCreate");
    return dataStepAfter(library, argv, run, report, size);
}
