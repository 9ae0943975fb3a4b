/* The runtime libraries' debug trace, in the launcher's line form. */
#ifndef RUNTIME_TRACE_H
#define RUNTIME_TRACE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Writes "[pid]: message\n" to standard error in one write while
 * SORVANTA_DEBUG is exactly "true", otherwise nothing. A failed write is
 * ignored and never ends the process; errno is kept. */
void huxTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
