/* The runtime libraries' debug trace, in the launcher's line form, and
 * their reports: the lines that say why a program did not start. */
#ifndef RUNTIME_TRACE_H
#define RUNTIME_TRACE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Writes "[pid]: message\n" to standard error in one write while the
 * quiet writer's debug switch is on (SORVANTA_DEBUG exactly "true", and in
 * secure mode a caller who is root), otherwise nothing. Control characters
 * in the message but the tab become '?', so that no value can end the line
 * or start a forged one. A failed write is ignored and never ends the
 * process; errno is kept. */
void huxTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Writes the message formatted like printf and a newline to standard
 * error in one write, byte for byte as fprintf would, whatever the debug
 * switch, and, while standard error is not a terminal, sends each of its
 * lines to the journal (quietReport), unless huxKeepReportsFromJournal was
 * called. A message longer than 8 KiB that memory cannot be had for is
 * cut. A failed write is ignored and never ends the process; errno is
 * kept. */
void huxReport(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Sends the lines of `text`, which the runtime's own streams have written
 * on standard error for this library (System.err, a Python exit message),
 * to the journal as huxReport would (quietJournal). Keeps errno. */
void huxJournal(const char *text);

/* From now on huxReport and huxJournal leave the journal out in this
 * process: for the child of a check, whose standard error is a pipe that
 * its parent reads and whose failure is not the application's. */
void huxKeepReportsFromJournal(void);

#ifdef __cplusplus
}
#endif

#endif
