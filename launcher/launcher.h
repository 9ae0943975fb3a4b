// Functions shared between the launcher's entry, its interface code and
// the tools built on the launcher's core.
#ifndef LAUNCHER_H
#define LAUNCHER_H

#include <stdint.h>

#include "hux_runtime_api.h"
#include "kivlauncher_api.h"

// Writes one diagnostic line "[pid]: message\n" to standard error, in a
// single write, while SORVANTA_DEBUG is exactly "true"; otherwise nothing.
void kivLauncherLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Why the auxiliary library gave no launch data record, for the tools that
// explain a start; the launcher itself only logs.
enum RecordFailure {
    recordObtained = 0,        // there is a record
    recordLibraryNotLoaded,    // dlopen failed (the loader's text is logged)
    recordGetApiNotExported,   // no kivLauncherGetAPI (the loader's text is logged)
    recordTableMissing,        // kivLauncherGetAPI returned null
    recordTableEntryMissing,   // the table has a null entry
    recordCreateNotExported,   // no kivLauncherCreate (the loader's text is logged)
    recordHandleRefused,       // kivLauncherCreate returned null
    recordSizeRefused,         // getDataSize said 0 or less
    recordBlockNotAllocated,   // the block could not be allocated
    recordFillRefused,         // fillData returned null
    recordFillOutsideBuffer,   // fillData returned a pointer other than its buffer
};

// Has the auxiliary library build the launch data block. Always releases a
// non-null handle. Returns the block (heap memory the caller frees) and
// stores its size in *outSize when outSize is not null, or returns null
// and leaves *outSize unchanged.
KivlLauncherData *kivLauncherCreateKivlLauncherData(const KivlLauncherAPI *api,
                                                    KivLauncherHandle handle,
                                                    int32_t *outSize);

// kivLauncherCreateKivlLauncherData, also saying in *failure (when not
// null) why there is no record, or recordObtained.
KivlLauncherData *createRecord(const KivlLauncherAPI *api, KivLauncherHandle handle,
                               int32_t *outSize, RecordFailure *failure);

// The entry "HUX_Launch" of the loaded runtime library `runtime`, or null
// after one log line: the loader's text when it is missing, or "HUX_Launch
// is not a function" when the symbol is data, which the launcher must not
// call; then *isData (when not null) says which.
HuxLaunchFn findRuntimeEntry(void *runtime, bool *isData);

// Logs the record, sets its environment variables (overwriting) and calls
// the entry with the record's arguments; returns the entry's result.
int32_t kivLauncherStartKiv(const KivlLauncherData *record, HuxLaunchFn entry);

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so
// that neither a pipe nor a command's output can take one of their places
// and be read or written as standard input, output or error.
void occupyStandardDescriptors();

#endif
