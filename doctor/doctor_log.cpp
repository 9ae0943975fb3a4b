// kivLauncherLog in the launcher log's place: every line the launcher's
// code would write with SORVANTA_DEBUG=true is kept, whatever the
// environment says, to be shown. In a child (child.h) a line goes to
// the parent at once, so that lines written before a crash are not lost;
// in the parent it is kept for takeParentLog.
#include "doctor_log.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>

#include "child.h"
#include "launcher.h"

namespace {
std::vector<std::string> parentLog;
}

void kivLauncherLog(const char *format, ...) {
    int savedErrno = errno;
    va_list args;
    va_list again;
    va_start(args, format);
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, args);
    std::string line;
    if (length > 0) {
        line.resize((size_t)length + 1);
        (void)vsnprintf(&line[0], line.size(), format, again);
        line.resize((size_t)length);
    }
    va_end(again);
    va_end(args);
    if (!sendToParent('L', line)) {
        parentLog.push_back(line);
    }
    errno = savedErrno;
}

std::vector<std::string> takeParentLog() {
    std::vector<std::string> lines;
    lines.swap(parentLog);
    return lines;
}
