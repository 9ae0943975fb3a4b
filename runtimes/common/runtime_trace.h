/* The runtime libraries' debug trace, in the launcher's line form. */
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

#ifdef __cplusplus
}
#endif

#endif
