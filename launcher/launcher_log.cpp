// The launcher's one diagnostic log (launcher.h): lines on standard error
// while SORVANTA_DEBUG is "true" (and, in secure mode, the caller is root),
// written through the quiet writer. A tool that explains a launcher's
// start links its own kivLauncherLog in this file's place to see the same
// lines; this file holds nothing else.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "launcher.h"
#include "quiet_writer.h"

// Formats "[pid]: message\n" and writes it in one write, so the other
// launcher process cannot split the line. Control characters in the
// message (a newline in an argument, say) become '?', so that no value can
// end its line or start a forged one. Lines too long for the stack buffer
// are formatted on the heap; if that allocation fails the line goes out
// cut at the stack buffer's size, escaped all the same, followed by a line
// naming the failure. Write failures are ignored, there being nowhere left
// to report them, and never end the process. Keeps errno unchanged.
void kivLauncherLog(const char *format, ...) {
    if (!quietDebugEnabled()) {
        return;
    }
    int savedErrno = errno;
    char local[1024];
    int prefix = snprintf(local, sizeof local, "[%d]: ", (int)getpid());
    va_list args;
    va_list again;
    va_start(args, format);
    va_copy(again, args);
    int body = vsnprintf(local + prefix, sizeof local - (size_t)prefix, format, args);
    if (body >= 0) {
        size_t length = (size_t)prefix + (size_t)body + 1;
        char *line = length <= sizeof local ? local : (char *)malloc(length);
        if (line == nullptr) {
            const char *failure = strerror(errno);
            quietEscapeControls(local + prefix, sizeof local - (size_t)prefix - 1);
            local[sizeof local - 1] = '\n';
            quietWrite(STDERR_FILENO, local, sizeof local);
            int failed = snprintf(local + prefix, sizeof local - (size_t)prefix, "%s\n", failure);
            quietWrite(STDERR_FILENO, local, (size_t)prefix + (size_t)failed);
        } else {
            if (line != local) {
                memcpy(line, local, (size_t)prefix);
                (void)vsnprintf(line + prefix, (size_t)body + 1, format, again);
            }
            quietEscapeControls(line + prefix, (size_t)body);
            line[length - 1] = '\n';
            quietWrite(STDERR_FILENO, line, length);
            if (line != local) {
                free(line);
            }
        }
    }
    va_end(again);
    va_end(args);
    errno = savedErrno;
}
