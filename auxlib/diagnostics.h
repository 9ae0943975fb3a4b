// The reference library's lines on standard error: complaints, which say
// why an application did not start, and debug trace lines.
#ifndef DIAGNOSTICS_H
#define DIAGNOSTICS_H

#include <stddef.h>

// Writes bytes[0..length) to descriptor `fd`, repeating after short
// writes and EINTR, and ignores failures. SIGPIPE and SIGXFSZ are blocked
// around the write, so that a closed reader or a file size limit cannot
// end the process; a signal the write raised is taken back, one pending
// before stays pending. No signal disposition is changed.
void writeQuietly(int fd, const char *bytes, size_t length);

// Writes `prefix` and the formatted message as one line on standard error
// in one write. Control characters in the message become '?', so that
// text from files or the environment cannot break or forge a line; a
// message too long for the line is cut.
void writeLine(const char *prefix, const char *format, ...) __attribute__((format(printf, 2, 3)));

#endif
