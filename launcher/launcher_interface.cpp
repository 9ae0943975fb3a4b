// The launcher's side of the auxiliary library interface: building the
// launch data block, and starting the runtime.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "launcher.h"

// Asks the library for the block size, allocates it and has the library
// fill it. The handle is released in every case once it is not null. A
// library that returns a pointer other than the buffer it was given yields
// no record: the launcher can only send and free the buffer it allocated.
KivlLauncherData *kivLauncherCreateKivlLauncherData(const KivlLauncherAPI *api,
                                                    KivLauncherHandle handle,
                                                    int32_t *outSize) {
    if (handle == nullptr) {
        return nullptr;
    }
    KivlLauncherData *record = nullptr;
    void *buffer = nullptr;
    int32_t size = api->getDataSize(handle);
    if (size > 0) {
        buffer = malloc((size_t)size);
        if (buffer == nullptr) {
            kivLauncherLog("%s", strerror(errno));
        } else {
            record = api->fillData(handle, buffer, size);
            if (record != nullptr && record != buffer) {
                kivLauncherLog("fillData returned a pointer outside its buffer");
                record = nullptr;
            }
            if (record != nullptr && outSize != nullptr) {
                *outSize = size;
            }
        }
    }
    api->release(handle);
    if (record == nullptr) {
        free(buffer);
    }
    return record;
}

// Logs the whole record before touching the environment, sets every
// variable (a failure is logged with its index and the rest still go in),
// then calls the entry and returns its result unchanged.
int32_t kivLauncherStartKiv(const KivlLauncherData *record, HuxLaunchFn entry) {
    static const char emptyText[] = "";
    static const char runtimeTag[] = "ruvo";
    kivLauncherLog("hux lib: [%s]", record->runtimeLibPath);
    for (int32_t i = 0; i < record->argCount; i++) {
        kivLauncherLog("hux arg[%d]: [%s]", i, record->args[i]);
    }
    for (int32_t i = 0; i < record->envCount; i++) {
        kivLauncherLog("env var[%d]: %s=[%s]", i, record->envNames[i], record->envValues[i]);
    }
    for (int32_t i = 0; i < record->envCount; i++) {
        if (setenv(record->envNames[i], record->envValues[i], 1) != 0) {
            kivLauncherLog("setenv(%d) failed", i);
        }
    }
    return entry(record->argCount, record->args, 0, 0, 0, 0, emptyText, emptyText,
                 runtimeTag, runtimeTag, 0, 0, 0, 0);
}
