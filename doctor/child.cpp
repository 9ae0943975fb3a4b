#include "child.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "record_handoff.h"

namespace {

double limitSeconds = 10;
int messageFd = -1;
volatile sig_atomic_t runningGroup = 0;

// Output beyond this many bytes is counted as cut, not kept.
const size_t outputLimit = (size_t)64 * 1024;
// How long the pipes are still read once the child has ended, for output
// that processes outside its group still hold open.
const double drainSeconds = 0.2;

// Seconds on the monotonic clock.
double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// One pipe read by the parent.
struct Channel {
    int fd;
    std::string *into;
    size_t limit;
    bool *cut;
};

// Reads what is there; returns false at end of file or on an error.
bool readSome(Channel &channel) {
    char buffer[65536];
    ssize_t got = read(channel.fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (got <= 0) {
        return false;
    }
    size_t room = channel.limit - std::min(channel.limit, channel.into->size());
    channel.into->append(buffer, std::min(room, (size_t)got));
    if ((size_t)got > room && channel.cut != nullptr) {
        *channel.cut = true;
    }
    return true;
}

// Whether child `pid` has ended, without reaping it, so that its process
// id (and with it its group's) cannot be taken by another process before
// the group is killed.
bool hasEnded(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Kills what is left of the child's group, then reaps the child.
void finish(pid_t pid, ChildRun &run) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
}

// Reads the three pipes until the child has ended and they are drained,
// or until the time limit, when the child's group is killed.
void collect(pid_t pid, Channel *channels, size_t count, ChildRun &run) {
    double deadline = now() + limitSeconds;
    double endedAt = -1;
    for (;;) {
        pollfd fds[3];
        nfds_t open = 0;
        for (size_t i = 0; i < count; i++) {
            if (channels[i].fd >= 0) {
                fds[open++] = pollfd{channels[i].fd, POLLIN, 0};
            }
        }
        if (open == 0 && endedAt >= 0) {
            return;
        }
        (void)poll(fds, open, 20);
        for (size_t i = 0; i < count; i++) {
            for (nfds_t j = 0; j < open; j++) {
                if (fds[j].fd == channels[i].fd && fds[j].revents != 0 && !readSome(channels[i])) {
                    close(channels[i].fd);
                    channels[i].fd = -1;
                }
            }
        }
        if (endedAt < 0 && hasEnded(pid)) {
            finish(pid, run);
            endedAt = now();
        } else if (endedAt < 0 && now() > deadline) {
            run.timedOut = true;
            finish(pid, run);
            endedAt = now();
        } else if (endedAt >= 0 && now() - endedAt > drainSeconds) {
            return;
        }
    }
}

// Splits the message channel into log lines and events; a frame cut short
// by the child's end is dropped.
void parseMessages(const std::string &bytes, ChildRun &run) {
    size_t at = 0;
    while (bytes.size() - at >= 5) {
        uint32_t length = 0;
        memcpy(&length, bytes.data() + at + 1, sizeof length);
        if (bytes.size() - at - 5 < length) {
            return;
        }
        std::string text = bytes.substr(at + 5, length);
        (bytes[at] == 'L' ? run.logLines : run.events).push_back(text);
        at += 5 + (size_t)length;
    }
}

// In the child: the standard descriptors and signal dispositions it runs
// with, then the body; never returns.
[[noreturn]] void becomeChild(const std::function<int(int)> &body, int *out, int *messages,
                              int *data) {
    setpgid(0, 0);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
        (void)signal(sig, SIG_DFL);
    }
    int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    dup2(null, STDIN_FILENO);
    if (null > STDERR_FILENO) {
        close(null);
    }
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    close(messages[0]);
    close(data[0]);
    messageFd = messages[1];
    int status = body(data[1]);
    (void)fflush(nullptr);
    _exit(status);
}

// Closes each of the `count` descriptors that is open (not -1).
void closeAll(int *fds, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (fds[i] >= 0) {
            close(fds[i]);
        }
    }
}

}  // namespace

void setChildTimeLimit(double seconds) {
    limitSeconds = seconds;
}

ChildRun runInChild(const std::function<int(int dataFd)> &body) {
    ChildRun run;
    int fds[6] = {-1, -1, -1, -1, -1, -1};
    if (pipe2(fds, O_CLOEXEC) != 0 || pipe2(fds + 2, O_CLOEXEC) != 0 ||
        pipe2(fds + 4, O_CLOEXEC) != 0) {
        run.startError = strerror(errno);
        closeAll(fds, 6);
        return run;
    }
    (void)fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        run.startError = strerror(errno);
        closeAll(fds, 6);
        return run;
    }
    if (pid == 0) {
        becomeChild(body, fds, fds + 2, fds + 4);
    }
    run.started = true;
    setpgid(pid, pid);
    runningGroup = pid;
    close(fds[1]);
    close(fds[3]);
    close(fds[5]);
    std::string messages;
    Channel channels[3] = {{fds[0], &run.output, outputLimit, &run.outputCut},
                           {fds[2], &messages, SIZE_MAX, nullptr},
                           {fds[4], &run.data, SIZE_MAX, nullptr}};
    collect(pid, channels, 3, run);
    runningGroup = 0;
    for (const Channel &channel : channels) {
        if (channel.fd >= 0) {
            close(channel.fd);
        }
    }
    parseMessages(messages, run);
    return run;
}

bool sendToParent(char kind, const std::string &text) {
    if (messageFd < 0) {
        return false;
    }
    std::string frame(5, kind);
    uint32_t length = (uint32_t)text.size();
    memcpy(&frame[1], &length, sizeof length);
    frame += text;
    return writeFully(messageFd, frame.data(), frame.size()) == (int64_t)frame.size();
}

void childEvent(const std::string &key, const std::string &value) {
    sendToParent('E', key + "=" + value);
}

std::string lastEvent(const ChildRun &run, const std::string &key, const std::string &fallback) {
    std::string found = fallback;
    for (const std::string &event : run.events) {
        if (event.compare(0, key.size() + 1, key + "=") == 0) {
            found = event.substr(key.size() + 1);
        }
    }
    return found;
}

bool hadEvent(const ChildRun &run, const std::string &key) {
    return lastEvent(run, key, "\n") != "\n";
}

std::string describeEnd(const ChildRun &run) {
    if (!run.started) {
        return "could not be started: " + run.startError;
    }
    if (run.timedOut) {
        char seconds[32];
        (void)snprintf(seconds, sizeof seconds, "%g", limitSeconds);
        return std::string("did not finish within ") + seconds + " s";
    }
    if (run.signal != 0) {
        return "was killed by signal " + std::to_string(run.signal) + " (" +
               strsignal(run.signal) + ")";
    }
    return "exited with status " + std::to_string(run.exitCode);
}

bool endedCleanly(const ChildRun &run) {
    return run.started && !run.timedOut && run.signal == 0 && run.exitCode == 0;
}

std::vector<std::string> outputLines(const ChildRun &run) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < run.output.size()) {
        size_t end = run.output.find('\n', start);
        if (end == std::string::npos) {
            end = run.output.size();
        }
        if (end > start) {
            lines.push_back(run.output.substr(start, end - start));
        }
        start = end + 1;
    }
    if (run.outputCut) {
        lines.push_back("[output cut after " + std::to_string(outputLimit) + " bytes]");
    }
    return lines;
}

std::vector<char *> argvOf(std::vector<std::string> &texts) {
    std::vector<char *> argv(texts.size() + 1, nullptr);
    std::transform(texts.begin(), texts.end(), argv.begin(),
                   [](std::string &text) { return &text[0]; });
    return argv;
}

void killRunningChild() {
    pid_t group = (pid_t)runningGroup;
    if (group > 0) {
        kill(-group, SIGKILL);
    }
}
