// The launcher's side of the auxiliary library interface: building the
// launch data block, and starting the runtime.
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>

#include "launcher.h"
#include "record_handoff.h"

// Asks the library for the block size, allocates it and has the library
// fill it. The handle is released in every case once it is not null, and
// only then is a buffer that did not become the record freed. A library
// that returns a pointer other than the buffer it was given yields no
// record: the launcher can only send and free the buffer it allocated.
KivlLauncherData *createRecord(const KivlLauncherAPI *api, KivLauncherHandle handle,
                               int32_t *outSize, RecordFailure *failure) {
    RecordFailure why = recordHandleRefused;
    KivlLauncherData *record = nullptr;
    if (handle != nullptr) {
        void *buffer = nullptr;
        int32_t size = api->getDataSize(handle);
        if (size <= 0) {
            why = recordSizeRefused;
        } else {
            buffer = malloc((size_t)size);
            if (buffer == nullptr) {
                kivLauncherLog("%s", strerror(errno));
                why = recordBlockNotAllocated;
            } else {
                record = api->fillData(handle, buffer, size);
                why = recordFillRefused;
            }
        }
        if (record != nullptr && record != buffer) {
            kivLauncherLog("fillData returned a pointer outside its buffer");
            record = nullptr;
            why = recordFillOutsideBuffer;
        }
        if (record != nullptr) {
            why = recordObtained;
            if (outSize != nullptr) {
                *outSize = size;
            }
        }
        api->release(handle);
        if (record == nullptr) {
            free(buffer);
        }
    }
    if (failure != nullptr) {
        *failure = why;
    }
    return record;
}

KivlLauncherData *kivLauncherCreateKivlLauncherData(const KivlLauncherAPI *api,
                                                    KivLauncherHandle handle,
                                                    int32_t *outSize) {
    return createRecord(api, handle, outSize, nullptr);
}

// Data symbols are told by their ELF symbol type; a symbol whose type the
// loader cannot tell is taken for a function, as before the check.
HuxLaunchFn findRuntimeEntry(void *runtime, bool *isData) {
    void *symbol = dlsym(runtime, "HUX_Launch");
    if (isData != nullptr) {
        *isData = false;
    }
    if (symbol == nullptr) {
        kivLauncherLog("%s", loaderError());
        return nullptr;
    }
    Dl_info info;
    const ElfW(Sym) *entry = nullptr;
    if (dladdr1(symbol, &info, (void **)&entry, RTLD_DL_SYMENT) != 0 && entry != nullptr) {
        int type = ELF64_ST_TYPE(entry->st_info);
        if (type == STT_OBJECT || type == STT_COMMON || type == STT_TLS) {
            kivLauncherLog("HUX_Launch is not a function");
            if (isData != nullptr) {
                *isData = true;
            }
            return nullptr;
        }
    }
    return (HuxLaunchFn)symbol;
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
