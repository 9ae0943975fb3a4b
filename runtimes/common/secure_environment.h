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

/* The environment variable `name`, which names a directory the runtime
 * loads code from: outside secure mode its value; in secure mode its value
 * only when that directory is one no one but root can change, else null
 * (after a trace line saying so). */
const char *huxTrustedDirectoryVariable(const char *name);

/* Whether `path` and every directory above it, symbolic links followed,
 * are owned by root and writable by neither group nor others. */
bool huxOnlyRootCanChange(const char *path);

#ifdef __cplusplus
}
#endif

#endif
