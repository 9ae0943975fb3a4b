/* An auxiliary library for the doctor's tests, breaking the contract in
 * the way CONTRACT_MODE names: "null-entry" (a table without fillData),
 * "hang" (kivLauncherCreate never returns), "crash-in-release",
 * "varying" (an argument that differs from run to run); any other value
 * keeps the contract. Its record names $CONTRACT_RUNTIME and carries
 * "--contract" and argv[1..]. */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "kivlauncher_api.h"

typedef struct Handle {
    int count;
    char *texts[64];
} Handle;

static int modeIs(const char *mode) {
    const char *current = getenv("CONTRACT_MODE");
    return current != NULL && strcmp(current, mode) == 0;
}

static void release(KivLauncherHandle handle) {
    Handle *h = handle;
    if (modeIs("crash-in-release")) {
        raise(SIGSEGV);
    }
    for (int i = 0; i < h->count; i++) {
        free(h->texts[i]);
    }
    free(h);
}

/* The runtime path, then the arguments, each with its zero. */
static size_t textBytes(const Handle *h) {
    size_t bytes = 0;
    for (int i = 0; i < h->count; i++) {
        bytes += strlen(h->texts[i]) + 1;
    }
    return bytes;
}

static int32_t getDataSize(KivLauncherHandle handle) {
    const Handle *h = handle;
    return (int32_t)(sizeof(KivlLauncherData) + (size_t)(h->count - 1) * sizeof(char *) +
                     textBytes(h));
}

static KivlLauncherData *fillData(KivLauncherHandle handle, void *buffer, int32_t size) {
    const Handle *h = handle;
    KivlLauncherData *record = buffer;
    char **args = (char **)(record + 1);
    char *cursor = (char *)(args + h->count - 1);
    (void)size;
    for (int i = 0; i < h->count; i++) {
        size_t length = strlen(h->texts[i]) + 1;
        memcpy(cursor, h->texts[i], length);
        if (i == 0) {
            record->runtimeLibPath = cursor;
        } else {
            args[i - 1] = cursor;
        }
        cursor += length;
    }
    record->argCount = h->count - 1;
    record->envCount = 0;
    record->args = args;
    record->envNames = args + record->argCount;
    record->envValues = args + record->argCount;
    return record;
}

static const KivlLauncherAPI table = {release, getDataSize, fillData};
static const KivlLauncherAPI tableWithoutFill = {release, getDataSize, NULL};

const KivlLauncherAPI *kivLauncherGetAPI(void) {
    return modeIs("null-entry") ? &tableWithoutFill : &table;
}

KivLauncherHandle kivLauncherCreate(int32_t argc, char **argv) {
    if (modeIs("hang")) {
        for (;;) {
            pause();
        }
    }
    Handle *h = calloc(1, sizeof *h);
    const char *runtime = getenv("CONTRACT_RUNTIME");
    h->texts[h->count++] = strdup(runtime != NULL ? runtime : "");
    h->texts[h->count++] = strdup("--contract");
    for (int32_t i = 1; i < argc && h->count < 63; i++) {
        h->texts[h->count++] = strdup(argv[i]);
    }
    if (modeIs("varying")) {
        char text[64];
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        snprintf(text, sizeof text, "--run=%d.%ld", (int)getpid(), (long)now.tv_nsec);
        h->texts[h->count++] = strdup(text);
    }
    return h;
}
