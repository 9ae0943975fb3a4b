/* The one writer of diagnostic lines on standard error, shared as source
 * by the launcher's log, the reference auxiliary library's diagnostics and
 * the runtime libraries' trace: the SORVANTA_DEBUG switch, and a write
 * that neither a reader that has gone (SIGPIPE) nor a file size limit
 * (SIGXFSZ) can turn into the end of the process. Plain C on libc alone. */
#ifndef QUIET_WRITER_H
#define QUIET_WRITER_H

#include <signal.h>
#include <stddef.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* True while SORVANTA_DEBUG is exactly "true" (case-sensitive, the whole
 * value); the variable is read at every call. */
bool quietDebugEnabled(void);

/* The calling thread's signal state while the write signals are held. */
typedef struct QuietHold {
    sigset_t savedMask;
    sigset_t pendingBefore;
} QuietHold;

/* Blocks SIGPIPE and SIGXFSZ for the calling thread, so that a write that
 * raises one fails instead of ending the process, and notes which of them
 * were pending already. No signal disposition is changed. */
void quietHold(QuietHold *hold);

/* Takes back a write signal that the writes since quietHold raised (one
 * pending before stays pending) and restores the thread's signal mask.
 * Keeps errno. */
void quietRelease(const QuietHold *hold);

/* Writes bytes[0..length) to descriptor `fd` with the write signals held,
 * repeating after short writes and EINTR; any other failure ends the
 * write silently, there being nowhere left to report it. Keeps errno. */
void quietWrite(int fd, const char *bytes, size_t length);

#ifdef __cplusplus
}
#endif

#endif
