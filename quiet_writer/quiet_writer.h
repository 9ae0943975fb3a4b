/* The one writer of diagnostic lines on standard error, shared as source
 * by the launcher's log, the reference auxiliary library's diagnostics and
 * the runtime libraries' trace: the SORVANTA_DEBUG switch (never on for a
 * caller who is not root in secure mode), the escaping that keeps a logged
 * value on its line, and a write that neither a reader that has gone
 * (SIGPIPE) nor a file size limit (SIGXFSZ) can turn into the end of the
 * process. Plain C on libc alone. */
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

/* Whether this process runs in secure mode (AT_SECURE: a set-user-id or
 * set-group-id executable, or one with file capabilities) for a caller
 * whose real user id is not root. Such a caller may be anyone, and what it
 * could not read itself (a configuration readable only by root) must not
 * reach it through a diagnostic line. */
bool quietCallerIsUntrusted(void);

/* True while SORVANTA_DEBUG is exactly "true" (case-sensitive, the whole
 * value), except for an untrusted caller (quietCallerIsUntrusted), for
 * whom the trace is never on; both are read at every call. */
bool quietDebugEnabled(void);

/* Replaces, in text[0..length), each control character but the tab (bytes
 * below 0x20, and 0x7f) with '?', so that a value written into a line can
 * neither end it nor start another; every other byte stays as it is. */
void quietEscapeControls(char *text, size_t length);

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
