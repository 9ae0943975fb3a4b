/* Link-time wrapper around the launcher's own allocation calls (linked
 * with -Wl,--wrap=malloc,...). ALLOC_FAIL_IN names the process whose
 * allocations are counted ("parent", the process that started, or "child",
 * any process it forked) and ALLOC_FAIL_AT=N makes that process's Nth
 * allocation fail with ENOMEM. Each process writes, when it exits, a line
 * "calls=C failed=F live=L" to $ALLOC_REPORT_DIR/<role>: its allocation
 * count, the call it failed (0: none) and the blocks it still held. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
char *__real_strdup(const char *text);
char *__real_strndup(const char *text, size_t length);
void __real_free(void *block);

static pid_t startPid;
static long calls;
static long failedCall;
static long live;

__attribute__((constructor)) static void rememberStart(void) {
    startPid = getpid();
}

static const char *role(void) {
    return getpid() == startPid ? "parent" : "child";
}

/* Counts one allocation; true when it is the one to fail (errno ENOMEM). */
static int shouldFail(void) {
    const char *in = getenv("ALLOC_FAIL_IN");
    const char *at = getenv("ALLOC_FAIL_AT");
    if (in == NULL || strcmp(in, role()) != 0) {
        return 0;
    }
    calls++;
    if (at != NULL && atol(at) == calls) {
        failedCall = calls;
        errno = ENOMEM;
        return 1;
    }
    return 0;
}

static void *counted(void *block) {
    live += block != NULL;
    return block;
}

void *__wrap_malloc(size_t size) {
    return shouldFail() ? NULL : counted(__real_malloc(size));
}

void *__wrap_calloc(size_t count, size_t size) {
    return shouldFail() ? NULL : counted(__real_calloc(count, size));
}

void *__wrap_realloc(void *block, size_t size) {
    if (shouldFail()) {
        return NULL;
    }
    void *moved = __real_realloc(block, size);
    live += block == NULL && moved != NULL;
    return moved;
}

char *__wrap_strdup(const char *text) {
    return shouldFail() ? NULL : (char *)counted(__real_strdup(text));
}

char *__wrap_strndup(const char *text, size_t length) {
    return shouldFail() ? NULL : (char *)counted(__real_strndup(text, length));
}

void __wrap_free(void *block) {
    live -= block != NULL;
    __real_free(block);
}

__attribute__((destructor)) static void report(void) {
    const char *dir = getenv("ALLOC_REPORT_DIR");
    if (dir == NULL) {
        return;
    }
    char path[4096];
    char line[128];
    snprintf(path, sizeof path, "%s/%s", dir, role());
    int length = snprintf(line, sizeof line, "calls=%ld failed=%ld live=%ld\n", calls, failedCall,
                          live);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t written = write(fd, line, (size_t)length);
        (void)written;
        close(fd);
    }
}
