// The record's hand-off between the launcher's two processes and its check
// on arrival (contracts in record_handoff.h).
#include "record_handoff.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "launcher.h"

int64_t writeFully(int fd, const void *data, uint64_t length) {
    const char *next = (const char *)data;
    uint64_t done = 0;
    while (done < length) {
        ssize_t written = write(fd, next + done, length - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (written == 0) {
            errno = EIO;
            return -1;
        }
        done += (uint64_t)written;
    }
    return (int64_t)length;
}

int64_t readFully(int fd, void *buffer, uint64_t length) {
    char *next = (char *)buffer;
    uint64_t done = 0;
    while (done < length) {
        ssize_t got = read(fd, next + done, length - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += (uint64_t)got;
    }
    return (int64_t)done;
}

const char *loaderError() {
    const char *text = dlerror();
    return text != nullptr ? text : "unknown dynamic loader error";
}

// A byte range [begin, end) of the received block, as offsets.
struct Region {
    uint64_t begin;
    uint64_t end;
};

// Whether two regions share a byte; an empty region shares none.
static bool overlaps(Region a, Region b) {
    return a.begin < a.end && b.begin < b.end && a.begin < b.end && b.begin < a.end;
}

// The region of a pointer array with `count` entries that started at
// `address` in a block of `size` bytes built at `base`. A non-empty array
// must lie past the 40-byte record, inside the block, aligned for pointers.
static bool findArray(uint64_t address, int32_t count, uint64_t base, uint64_t size,
                      Region *array) {
    uint64_t offset = address - base;
    uint64_t bytes = (uint64_t)count * sizeof(char *);
    if (offset > size) {
        return false;
    }
    *array = Region{offset, offset + bytes};
    return count == 0 ||
           (offset >= sizeof(KivlLauncherData) && offset % sizeof(char *) == 0 &&
            bytes <= size - offset);
}

// What the string check needs to know of a block whose arrays are sound:
// for each non-empty array, and for the block's end, the offset of the last
// zero byte before it (UINT64_MAX when there is none).
struct BlockLayout {
    const unsigned char *block;
    uint64_t size;
    uint64_t base;
    Region arrays[3];
    uint64_t lastZeroBefore[4];
};

// A string that started at `address` is sound when it starts past the
// record, outside every array, and a zero byte ends it before the next
// array or the end of the block.
static bool stringIsSound(const BlockLayout *layout, uint64_t address) {
    uint64_t offset = address - layout->base;
    if (offset < sizeof(KivlLauncherData) || offset >= layout->size) {
        return false;
    }
    int next = 3;
    uint64_t nextBegin = layout->size;
    for (int i = 0; i < 3; i++) {
        Region array = layout->arrays[i];
        if (array.begin == array.end) {
            continue;
        }
        if (offset >= array.begin && offset < array.end) {
            return false;
        }
        if (array.begin > offset && array.begin < nextBegin) {
            next = i;
            nextBegin = array.begin;
        }
    }
    uint64_t zero = layout->lastZeroBefore[next];
    return zero != UINT64_MAX && zero >= offset;
}

// Checks every entry of one array of string pointers.
static bool entriesAreSound(const BlockLayout *layout, Region array) {
    for (uint64_t at = array.begin; at < array.end; at += sizeof(char *)) {
        uint64_t address;
        memcpy(&address, layout->block + at, sizeof address);
        if (!stringIsSound(layout, address)) {
            return false;
        }
    }
    return true;
}

const char *checkReceivedRecord(const unsigned char *block, uint64_t size,
                                       uint64_t base) {
    if (size < sizeof(KivlLauncherData)) {
        return "block smaller than the record";
    }
    const KivlLauncherData *record = (const KivlLauncherData *)block;
    if (record->argCount < 0 || record->envCount < 0) {
        return "negative count";
    }
    BlockLayout layout = {block, size, base, {}, {}};
    if (!findArray((uintptr_t)record->args, record->argCount, base, size, &layout.arrays[0]) ||
        !findArray((uintptr_t)record->envNames, record->envCount, base, size, &layout.arrays[1]) ||
        !findArray((uintptr_t)record->envValues, record->envCount, base, size, &layout.arrays[2])) {
        return "array outside the block";
    }
    if (overlaps(layout.arrays[0], layout.arrays[1]) ||
        overlaps(layout.arrays[0], layout.arrays[2]) ||
        overlaps(layout.arrays[1], layout.arrays[2])) {
        return "arrays overlap";
    }
    for (int i = 0; i < 4; i++) {
        uint64_t limit = i < 3 ? layout.arrays[i].begin : size;
        const void *zero = memrchr(block, 0, limit);
        layout.lastZeroBefore[i] =
            zero != nullptr ? (uint64_t)((const unsigned char *)zero - block) : UINT64_MAX;
    }
    if (!stringIsSound(&layout, (uintptr_t)record->runtimeLibPath) ||
        !entriesAreSound(&layout, layout.arrays[0]) ||
        !entriesAreSound(&layout, layout.arrays[1]) ||
        !entriesAreSound(&layout, layout.arrays[2])) {
        return "string outside the block or not terminated inside it";
    }
    return nullptr;
}

void rebaseRecord(KivlLauncherData *record, intptr_t delta) {
    record->runtimeLibPath = (char *)((uintptr_t)record->runtimeLibPath + (uintptr_t)delta);
    record->args = (char **)((uintptr_t)record->args + (uintptr_t)delta);
    record->envNames = (char **)((uintptr_t)record->envNames + (uintptr_t)delta);
    record->envValues = (char **)((uintptr_t)record->envValues + (uintptr_t)delta);
    for (int32_t i = 0; i < record->argCount; i++) {
        record->args[i] = (char *)((uintptr_t)record->args[i] + (uintptr_t)delta);
    }
    for (int32_t i = 0; i < record->envCount; i++) {
        record->envNames[i] = (char *)((uintptr_t)record->envNames[i] + (uintptr_t)delta);
        record->envValues[i] = (char *)((uintptr_t)record->envValues[i] + (uintptr_t)delta);
    }
}

KivlLauncherData *obtainRecord(const char *path, int32_t argc, char **argv, int32_t *size,
                               RecordFailure *failure) {
    RecordFailure why = recordLibraryNotLoaded;
    KivlLauncherData *record = nullptr;
    void *library = dlopen(path, RTLD_NOW);
    if (library == nullptr) {
        kivLauncherLog("%s", loaderError());
    } else {
        why = recordGetApiNotExported;
        KivLauncherGetAPIFn getApi = (KivLauncherGetAPIFn)dlsym(library, "kivLauncherGetAPI");
        const KivlLauncherAPI *api = getApi != nullptr ? getApi() : nullptr;
        if (getApi == nullptr) {
            kivLauncherLog("%s", loaderError());
        } else if (api == nullptr) {
            kivLauncherLog("Failed to get KivlLauncherAPI instance");
            why = recordTableMissing;
        } else if (api->release == nullptr || api->getDataSize == nullptr ||
                   api->fillData == nullptr) {
            kivLauncherLog("KivlLauncherAPI table has a null entry");
            why = recordTableEntryMissing;
        } else {
            KivLauncherCreateFn create = (KivLauncherCreateFn)dlsym(library, "kivLauncherCreate");
            if (create == nullptr) {
                kivLauncherLog("%s", loaderError());
                why = recordCreateNotExported;
            } else {
                record = createRecord(api, create(argc, argv), size, &why);
            }
        }
        dlclose(library);
    }
    if (failure != nullptr) {
        *failure = why;
    }
    return record;
}

int sendRecord(int fd, const KivlLauncherData *record, int32_t size) {
    uint64_t address = (uintptr_t)record;
    if (writeFully(fd, &size, sizeof size) != (int64_t)sizeof size ||
        writeFully(fd, &address, sizeof address) != (int64_t)sizeof address ||
        writeFully(fd, record, (uint64_t)size) != (int64_t)size) {
        kivLauncherLog("%s", strerror(errno));
        return 1;
    }
    return 0;
}

// Reads exactly `length` bytes of the frame; logs why when it cannot.
static bool receive(int fd, void *buffer, uint64_t length) {
    int64_t got = readFully(fd, buffer, length);
    if (got < 0) {
        kivLauncherLog("%s", strerror(errno));
        return false;
    }
    if ((uint64_t)got < length) {
        kivLauncherLog("pipe: end of file after %lld of %llu bytes", (long long)got,
                       (unsigned long long)length);
        return false;
    }
    return true;
}

unsigned char *receiveBlock(int fd, int32_t *size, uint64_t *childAddress) {
    if (!receive(fd, size, sizeof *size)) {
        return nullptr;
    }
    if (*size <= 0) {
        kivLauncherLog("invalid record size: %d", *size);
        return nullptr;
    }
    if (!receive(fd, childAddress, sizeof *childAddress)) {
        return nullptr;
    }
    unsigned char *block = (unsigned char *)malloc((size_t)*size);
    if (block == nullptr) {
        kivLauncherLog("%s", strerror(errno));
        return nullptr;
    }
    if (!receive(fd, block, (uint64_t)*size)) {
        free(block);
        return nullptr;
    }
    return block;
}

KivlLauncherData *acceptRecord(unsigned char *block, int32_t size, uint64_t childAddress) {
    const char *fault = checkReceivedRecord(block, (uint64_t)size, childAddress);
    if (fault != nullptr) {
        kivLauncherLog("rejected record: %s", fault);
        free(block);
        return nullptr;
    }
    KivlLauncherData *record = (KivlLauncherData *)block;
    rebaseRecord(record, (intptr_t)((uintptr_t)block - childAddress));
    return record;
}
