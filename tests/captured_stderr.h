// Turns the debug log on and collects what is written to descriptor 2
// while the object lives.
#ifndef CAPTURED_STDERR_H
#define CAPTURED_STDERR_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "launch_harness.h"

class CapturedStderr {
public:
    CapturedStderr() {
        setenv("SORVANTA_DEBUG", "true", 1);
        char pattern[] = "/tmp/applauncher-stderr-XXXXXX";
        file_ = mkstemp(pattern);
        path_ = pattern;
        fflush(stderr);
        saved_ = dup(2);
        dup2(file_, 2);
    }
    ~CapturedStderr() {
        restore();
        unlink(path_.c_str());
        unsetenv("SORVANTA_DEBUG");
    }
    // Everything written so far, with each line's "[pid]: " prefix removed.
    std::string text() {
        restore();
        std::string raw = readFile(path_);
        std::string prefix = "[" + std::to_string(getpid()) + "]: ";
        std::string plain;
        for (size_t at = 0; at < raw.size();) {
            size_t end = raw.find('\n', at);
            end = end == std::string::npos ? raw.size() : end + 1;
            std::string line = raw.substr(at, end - at);
            plain += line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : "?" + line;
            at = end;
        }
        return plain;
    }

private:
    void restore() {
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
            close(file_);
            saved_ = -1;
        }
    }
    int file_ = -1;
    int saved_ = -1;
    std::string path_;
};

#endif
