// Entry point: a child process finds the auxiliary library and obtains the
// launch data block from it; the parent receives the block over a pipe,
// checks and rebases it and starts the runtime in its own process (the
// frame and the check are in record_handoff.h).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "launcher.h"
#include "locator.h"
#include "record_handoff.h"

static int32_t appArgc;
static char **appArgv;

// Closes fds[index] unless it is already marked closed (-1), then marks it.
static void closePipeEnd(int *fds, int index) {
    if (fds[index] >= 0) {
        close(fds[index]);
        fds[index] = -1;
    }
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
        record = obtainRecord(path, appArgc, appArgv, &size, nullptr);
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
        HuxLaunchFn entry = findRuntimeEntry(runtime, nullptr);
        if (entry != nullptr) {
            status = kivLauncherStartKiv(record, entry);
        }
        dlclose(runtime);
    }
    free(record);
    return status;
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
