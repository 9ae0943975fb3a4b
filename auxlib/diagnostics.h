// The reference library's lines on standard error: complaints, which say
// why an application did not start, and debug trace lines.
#ifndef DIAGNOSTICS_H
#define DIAGNOSTICS_H

#include <stddef.h>

// Writes `prefix` and the formatted message as one line on standard error
// in one write, through the quiet writer (a closed reader or a file size
// limit never ends the process). Control characters in the message become
// '?', so that text from files or the environment cannot break or forge a
// line; a message too long for the line is cut. For the debug trace.
void writeLine(const char *prefix, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Writes the line as writeLine does and, while standard error is not a
// terminal, sends the same line (without its newline) to the journal
// (quietReport), unless a tool runs the library (toolProgramName), which
// reads the line itself. For complaints: what it says must be fit for the
// caller to read on standard error, for the journal gets no more.
void writeComplaint(const char *prefix, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// The program that a tool running this library in a program of its own
// (applauncher-doctor) says the library stands for: APPLAUNCHER_PROGRAM
// outside secure mode, else null (the library runs in the launcher).
const char *toolProgramName(void);

#endif
