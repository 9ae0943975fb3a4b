/* What a runtime library may take from its caller's environment when the
 * launcher runs in secure mode (a set-user-id or set-group-id executable,
 * or one with file capabilities): the caller may be anyone, so nothing the
 * caller can set may choose the code that runs. */
#ifndef SECURE_ENVIRONMENT_H
#define SECURE_ENVIRONMENT_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Whether this process runs in secure mode (AT_SECURE). */
bool huxSecureMode(void);

/* The environment variable `name`, or null when it is unset or, in secure
 * mode, at all: for variables that add code or options to the runtime
 * (class paths, option lists). */
const char *huxCallerVariable(const char *name);

/* `path` as the runtime may load code from it: outside secure mode a heap
 * copy of `path` itself; in secure mode a heap copy of its resolved path
 * (symbolic links, "." and ".." resolved, as realpath gives it) when that
 * file or directory and every directory above it is owned by root and
 * writable by neither group nor others, else null. The caller loads from
 * the returned path, so that the path checked is the path used, and
 * frees it. Null when memory runs out, too. */
char *huxTrustedPath(const char *path);

/* The environment variable `name`, which names a directory the runtime
 * loads code from, through huxTrustedPath: a heap path the caller frees,
 * or null when the variable is unset or, in secure mode, refused (after a
 * trace line saying so). */
char *huxTrustedDirectoryVariable(const char *name);

/* Whether `path` and every directory above it, symbolic links followed,
 * are owned by root and writable by neither group nor others. */
bool huxOnlyRootCanChange(const char *path);

#ifdef __cplusplus
}
#endif

#endif
