// The reference library's lines on standard error: complaints, which say
// why an application did not start, and debug trace lines.
#ifndef DIAGNOSTICS_H
#define DIAGNOSTICS_H

#include <stddef.h>

// Writes `prefix` and the formatted message as one line on standard error
// in one write, through the quiet writer (a closed reader or a file size
// limit never ends the process). Control characters in the message become
// '?', so that text from files or the environment cannot break or forge a
// line; a message too long for the line is cut.
void writeLine(const char *prefix, const char *format, ...) __attribute__((format(printf, 2, 3)));

#endif
