/* The caller's environment in secure mode (secure_environment.h). */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "secure_environment.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>

#include "runtime_trace.h"

bool huxSecureMode(void) {
    return getauxval(AT_SECURE) != 0;
}

const char *huxCallerVariable(const char *name) {
    return huxSecureMode() ? NULL : getenv(name);
}

/* Whether the resolved path `resolved` (changed in place) and every
 * directory above it are owned by root and writable by neither group nor
 * others. */
static bool resolvedOnlyRootCanChange(char *resolved) {
    for (;;) {
        struct stat status;
        if (stat(resolved, &status) != 0 || status.st_uid != 0 ||
            (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            return false;
        }
        char *slash = strrchr(resolved, '/');
        if (slash == resolved) {
            if (resolved[1] == '\0') {
                return true;
            }
            resolved[1] = '\0';
        } else {
            *slash = '\0';
        }
    }
}

bool huxOnlyRootCanChange(const char *path) {
    char resolved[PATH_MAX];
    return realpath(path, resolved) != NULL && resolvedOnlyRootCanChange(resolved);
}

char *huxTrustedPath(const char *path) {
    if (!huxSecureMode()) {
        return strdup(path);
    }
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == NULL) {
        return NULL;
    }
    char *trusted = strdup(resolved);
    if (trusted != NULL && !resolvedOnlyRootCanChange(resolved)) {
        free(trusted);
        trusted = NULL;
    }
    return trusted;
}

char *huxTrustedDirectoryVariable(const char *name) {
    const char *value = getenv(name);
    if (value == NULL) {
        return NULL;
    }
    char *trusted = huxTrustedPath(value);
    if (trusted == NULL && huxSecureMode()) {
        huxTrace("secure mode: %s [%s] left aside: others than root can change it", name, value);
    }
    return trusted;
}
