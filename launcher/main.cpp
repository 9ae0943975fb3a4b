// Entry point: a child process finds the auxiliary library and obtains the
// launch data block from it; the parent receives the block over a pipe,
// rebases it and starts the runtime in its own process.
//
// Pipe frame, child to parent, native byte order: the block size N
// (4 bytes, signed), the block's address in the child (8 bytes), then the
// N bytes of the block. A child without a record sends nothing.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../locator/locator.h"
#include "launcher.h"

static int32_t appArgc;
static char **appArgv;

// Writes all `length` bytes, repeating after short writes and EINTR.
// Returns `length`, or -1 on any other failure.
static int64_t writeFully(int fd, const void *data, uint64_t length) {
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

// Reads until `length` bytes have arrived, repeating after EINTR. Returns
// `length`, fewer bytes at end of file, or -1 on any other failure.
static int64_t readFully(int fd, void *buffer, uint64_t length) {
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

// Closes fds[index] unless it is already marked closed (-1), then marks it.
static void closePipeEnd(int *fds, int index) {
    if (fds[index] >= 0) {
        close(fds[index]);
        fds[index] = -1;
    }
}

// The loader's error text, never null.
static const char *loaderError() {
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

// Checks a received block of `size` bytes that lay at `base` in the child,
// before anything reads through its pointers: it holds the whole record,
// both counts are 0 or more, the three arrays lie inside the block past the
// record without overlapping each other, and every string lies inside the
// block past the record, outside the arrays (the rebase rewrites them), and
// ends with a zero inside it. Reads the block in linear time. Returns null
// when the block is sound, else the reason.
static const char *checkReceivedRecord(const unsigned char *block, uint64_t size,
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

// Moves every pointer of a received record by `delta`: the four fields
// first, then the array entries through the moved array pointers.
static void rebaseRecord(KivlLauncherData *record, intptr_t delta) {
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

// Loads the auxiliary library at `path` and has it build the record from
// the launcher's own arguments. Unloads the library before returning.
// Returns the record block (stores its size in *size) or null.
static KivlLauncherData *obtainRecord(const char *path, int32_t *size) {
    void *library = dlopen(path, RTLD_NOW);
    if (library == nullptr) {
        kivLauncherLog("%s", loaderError());
        return nullptr;
    }
    KivlLauncherData *record = nullptr;
    KivLauncherGetAPIFn getApi = (KivLauncherGetAPIFn)dlsym(library, "kivLauncherGetAPI");
    if (getApi == nullptr) {
        kivLauncherLog("%s", loaderError());
    } else {
        const KivlLauncherAPI *api = getApi();
        if (api == nullptr) {
            kivLauncherLog("Failed to get KivlLauncherAPI instance");
        } else {
            KivLauncherCreateFn create = (KivLauncherCreateFn)dlsym(library, "kivLauncherCreate");
            if (create == nullptr) {
                kivLauncherLog("%s", loaderError());
            } else {
                record = kivLauncherCreateKivlLauncherData(api, create(appArgc, appArgv), size);
            }
        }
    }
    dlclose(library);
    return record;
}

// Sends the frame: size, the block's address here, the block.
// Returns 0, or 1 after logging a failed write.
static int sendRecord(int fd, const KivlLauncherData *record, int32_t size) {
    uint64_t address = (uintptr_t)record;
    if (writeFully(fd, &size, sizeof size) != (int64_t)sizeof size ||
        writeFully(fd, &address, sizeof address) != (int64_t)sizeof address ||
        writeFully(fd, record, (uint64_t)size) != (int64_t)size) {
        kivLauncherLog("%s", strerror(errno));
        return 1;
    }
    return 0;
}

// The child's part: find and ask the auxiliary library, send what it gave.
// SIGCHLD goes back to its default here alone: ignored, as a launcher may
// inherit it, it would let the commands' exit statuses vanish before
// pclose could collect them.
static int runChild(int *fds) {
    closePipeEnd(fds, 0);
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    (void)sigaction(SIGCHLD, &defaultAction, nullptr);
    int status = 0;
    int32_t size = 0;
    KivlLauncherData *record = nullptr;
    char *path = getKivLauncherLibPath();
    if (path != nullptr) {
        record = obtainRecord(path, &size);
        free(path);
    }
    if (record != nullptr) {
        status = sendRecord(fds[1], record, size);
    }
    closePipeEnd(fds, 0);
    closePipeEnd(fds, 1);
    free(record);
    return status;
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

// Receives the frame from `fd`: the block, in fresh heap memory, is
// returned with its size and the address it had in the child stored in
// *size and *childAddress. Returns null after one log line when the frame
// does not arrive whole.
static unsigned char *receiveBlock(int fd, int32_t *size, uint64_t *childAddress) {
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

// Checks a received block and rebases it to where it now lies. Returns it
// as the record, or frees it and returns null after one log line.
static KivlLauncherData *acceptRecord(unsigned char *block, int32_t size, uint64_t childAddress) {
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

// Waits for the child `pid` itself, repeating after EINTR: not for any
// child, since the launcher may have inherited others (a shell's `worker &
// exec app`) that must neither be reaped here nor be waited for. With
// SIGCHLD ignored this returns once the child has ended, with ECHILD.
static void waitForChild(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Receives, checks and rebases the frame, closing the read end and then
// waiting for the child `pid` once the block is in. Returns the record, or
// null after one log line.
static KivlLauncherData *receiveRecord(int *fds, pid_t pid) {
    int32_t size = 0;
    uint64_t childAddress = 0;
    unsigned char *block = receiveBlock(fds[0], &size, &childAddress);
    closePipeEnd(fds, 0);
    if (block == nullptr) {
        return nullptr;
    }
    waitForChild(pid);
    return acceptRecord(block, size, childAddress);
}

// The parent's part: receive the record, load the runtime and run it.
// Returns the entry's result, or 1 for the launcher's own failures. The
// runtime library is loaded for good (RTLD_NODELETE): threads it started
// may still run its code, and that of the libraries it needs, after the
// entry has returned and until the process has ended, so the dlclose
// after the entry drops the reference but unmaps nothing.
static int runParent(int *fds, pid_t child) {
    closePipeEnd(fds, 1);
    KivlLauncherData *record = receiveRecord(fds, child);
    if (record == nullptr) {
        return 1;
    }
    int status = 1;
    void *runtime = dlopen(record->runtimeLibPath, RTLD_NOW | RTLD_NODELETE);
    if (runtime == nullptr) {
        kivLauncherLog("%s", loaderError());
    } else {
        HuxLaunchFn entry = (HuxLaunchFn)dlsym(runtime, "HUX_Launch");
        if (entry == nullptr) {
            kivLauncherLog("%s", loaderError());
        } else {
            status = kivLauncherStartKiv(record, entry);
        }
        dlclose(runtime);
    }
    free(record);
    return status;
}

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so
// that neither the pipe nor a command's output can take one of their
// places and be read or written as standard input, output or error.
static void occupyStandardDescriptors() {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int opened = open("/dev/null", O_RDWR);
            if (opened > 2) {
                close(opened);
                return;
            }
        }
    }
}

int main(int argc, char **argv) {
    appArgc = argc;
    appArgv = argv;
    occupyStandardDescriptors();
    // Close-on-exec: neither the commands the child runs nor anything they
    // or the auxiliary library start may hold the write end, or the parent
    // would wait for them to end before it sees the end of the frame.
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC) != 0) {
        kivLauncherLog("%s", strerror(errno));
        return 1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        kivLauncherLog("%s", strerror(errno));
        closePipeEnd(fds, 0);
        closePipeEnd(fds, 1);
        return 1;
    }
    return pid == 0 ? runChild(fds) : runParent(fds, pid);
}
