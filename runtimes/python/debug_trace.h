/* The runtime's part of the launcher's debug trace. */
#ifndef HUX_DEBUG_TRACE_H
#define HUX_DEBUG_TRACE_H

/* While SORVANTA_DEBUG is exactly "true", writes "[pid]: message\n" to
 * standard error in one write; otherwise nothing. A failed write, to a
 * closed pipe or past a file size limit, loses the line and nothing else.
 * Keeps errno. */
void huxTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
