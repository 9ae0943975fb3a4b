/* The one writer of diagnostic lines on standard error, shared as source
 * by the launcher's log, the reference auxiliary library's diagnostics and
 * the runtime libraries' trace and reports: the SORVANTA_DEBUG switch
 * (never on for a caller who is not root in secure mode), the escaping
 * that keeps a logged value on its line, a write that neither a reader
 * that has gone (SIGPIPE) nor a file size limit (SIGXFSZ) can turn into
 * the end of the process, and the copy of a report that goes to the
 * journal when no terminal is there to show it. Plain C on libc alone. */
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

/* Writes text[0..length) to standard error as it is, in one write
 * (quietWrite), then, while standard error is not a terminal, sends each
 * of its lines to the journal (quietJournal): for the lines that say why
 * a program did not start, which a program started from a desktop menu
 * would otherwise write where no one reads them. Never for the debug
 * trace. Keeps errno. */
void quietReport(const char *text, size_t length);

/* While standard error is not a terminal (isatty(2) false, as when it is
 * a file, a pipe or closed), sends each non-empty '\n'-separated line of
 * text[0..length) as one datagram to the journal's native socket,
 * /run/systemd/journal/socket, with exactly three fields: MESSAGE= the
 * line with its control characters escaped (quietEscapeControls),
 * PRIORITY=3 (an error) and SYSLOG_IDENTIFIER= the file name of the
 * running program (the last part of /proc/self/exe, never argv[0], which
 * the caller chooses; "applauncher" when it cannot be read), escaped the
 * same way. So the journal holds no more than standard error does. The
 * socket is non-blocking and close-on-exec and no send raises SIGPIPE:
 * where no journal listens, its queue is full or memory runs out, a line
 * is not sent and nothing else happens. For lines that the runtime's own
 * streams have written to standard error; quietReport writes and sends.
 * Keeps errno. */
void quietJournal(const char *text, size_t length);

#ifdef __cplusplus
}
#endif

#endif
