#include "contract_probe.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>

#include "launcher.h"
#include "record_handoff.h"

namespace {

// The library's table and the handle it gave, for the wrappers (one
// library per child process).
const KivlLauncherAPI *probedApi = nullptr;
KivLauncherHandle probedHandle = nullptr;

void countingRelease(KivLauncherHandle handle) {
    childEvent("stage", "release");
    childEvent("release", handle == probedHandle ? "same" : "other");
    probedApi->release(handle);
    childEvent("released", "");
}

int32_t countingGetDataSize(KivLauncherHandle handle) {
    childEvent("stage", "getDataSize");
    int32_t size = probedApi->getDataSize(handle);
    childEvent("size", std::to_string(size));
    return size;
}

KivlLauncherData *countingFillData(KivLauncherHandle handle, void *buffer, int32_t bufferSize) {
    childEvent("stage", "fillData");
    KivlLauncherData *filled = probedApi->fillData(handle, buffer, bufferSize);
    childEvent("fill", filled == buffer ? "buffer" : filled == nullptr ? "null" : "other");
    return filled;
}

const KivlLauncherAPI countingApi = {countingRelease, countingGetDataSize, countingFillData};

// Looks both exports up, reporting each that is missing; true when both are there.
bool findExports(void *library, KivLauncherGetAPIFn *getApi, KivLauncherCreateFn *create) {
    childEvent("stage", "dlsym");
    *getApi = (KivLauncherGetAPIFn)dlsym(library, "kivLauncherGetAPI");
    if (*getApi == nullptr) {
        childEvent("missing", "kivLauncherGetAPI");
    }
    *create = (KivLauncherCreateFn)dlsym(library, "kivLauncherCreate");
    if (*create == nullptr) {
        childEvent("missing", "kivLauncherCreate");
    }
    return *getApi != nullptr && *create != nullptr;
}

// Reads the table, reporting a null one and each null entry; true when
// every entry can be called.
bool readTable(KivLauncherGetAPIFn getApi) {
    childEvent("stage", "kivLauncherGetAPI");
    probedApi = getApi();
    childEvent("table", probedApi == nullptr ? "null" : "set");
    if (probedApi == nullptr) {
        return false;
    }
    bool complete = true;
    if (probedApi->release == nullptr) {
        childEvent("null-entry", "release");
        complete = false;
    }
    if (probedApi->getDataSize == nullptr) {
        childEvent("null-entry", "getDataSize");
        complete = false;
    }
    if (probedApi->fillData == nullptr) {
        childEvent("null-entry", "fillData");
        complete = false;
    }
    return complete;
}

// The child's part: every step in the launcher's order, then the frame.
int probeChild(const std::string &path, const std::vector<std::string> &words, int dataFd) {
    std::vector<std::string> texts = words;
    std::vector<char *> argv = argvOf(texts);
    childEvent("stage", "dlopen");
    void *library = dlopen(path.c_str(), RTLD_NOW);
    if (library == nullptr) {
        childEvent("dlopen-error", loaderError());
        return 1;
    }
    KivLauncherGetAPIFn getApi = nullptr;
    KivLauncherCreateFn create = nullptr;
    if (!findExports(library, &getApi, &create) || !readTable(getApi)) {
        return 1;
    }
    childEvent("stage", "kivLauncherCreate");
    probedHandle = create((int32_t)words.size(), argv.data());
    childEvent("handle", probedHandle == nullptr ? "null" : "set");
    int32_t size = 0;
    KivlLauncherData *record = kivLauncherCreateKivlLauncherData(&countingApi, probedHandle, &size);
    childEvent("stage", "dlclose");
    dlclose(library);
    int status = 0;
    if (record != nullptr) {
        childEvent("stage", "send");
        status = sendRecord(dataFd, record, size);
        free(record);
    }
    childEvent("stage", "done");
    return status;
}

}  // namespace

ProbeRun probeLibrary(const std::string &library, const std::vector<std::string> &argv) {
    ProbeRun probe;
    probe.run = runInChild(
        [&library, &argv](int dataFd) { return probeChild(library, argv, dataFd); });
    if (!probe.run.data.empty()) {
        int32_t size = 0;
        bool rejected = false;
        KivlLauncherData *record = receiveFrame(probe.run.data, &size, &probe.refusal, &rejected);
        if (record != nullptr) {
            probe.received = true;
            probe.data = launchDataOf(record, size);
            free(record);
        }
    }
    return probe;
}

int releaseCalls(const ProbeRun &probe) {
    return (int)std::count_if(
        probe.run.events.begin(), probe.run.events.end(),
        [](const std::string &event) { return event.compare(0, 8, "release=") == 0; });
}

std::string nullEntries(const ProbeRun &probe) {
    std::string names;
    for (const std::string &event : probe.run.events) {
        if (event.compare(0, 11, "null-entry=") == 0) {
            names += (names.empty() ? "" : ", ") + event.substr(11);
        }
    }
    return names;
}

std::string whereItStopped(const ProbeRun &probe) {
    const ChildRun &run = probe.run;
    std::string stage = lastEvent(run, "stage", "its start");
    if (lastEvent(run, "table") == "null") {
        return "kivLauncherGetAPI returned null";
    }
    if (!nullEntries(probe).empty()) {
        return "its table has null entries: " + nullEntries(probe);
    }
    if (lastEvent(run, "handle") == "null") {
        return "kivLauncherCreate returned null";
    }
    if (hadEvent(run, "size") && strtol(lastEvent(run, "size").c_str(), nullptr, 10) <= 0) {
        return "getDataSize returned " + lastEvent(run, "size");
    }
    if (lastEvent(run, "fill") == "null") {
        return "fillData returned null";
    }
    if (lastEvent(run, "fill") == "other") {
        return "fillData returned a pointer other than its buffer";
    }
    if (!endedCleanly(run)) {
        return "the process " + describeEnd(run) + " in " + stage;
    }
    return stage == "done" ? "it built a record this time" : "it stopped in " + stage;
}
