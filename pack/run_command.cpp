#include "run_command.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "pack_files.h"

extern char **environ;

namespace {

// The environment for the child: this process's, with `extra` replacing
// or adding entries, and removing those named without a '='.
std::vector<std::string> childEnvironment(const std::vector<std::string> &extra) {
    std::map<std::string, std::string> entries;
    for (char **entry = environ; *entry != nullptr; entry++) {
        std::string text = *entry;
        entries[text.substr(0, text.find('='))] = text;
    }
    for (const std::string &text : extra) {
        if (text.find('=') == std::string::npos) {
            entries.erase(text);
        } else {
            entries[text.substr(0, text.find('='))] = text;
        }
    }
    std::vector<std::string> result;
    result.reserve(entries.size());
    for (const auto &entry : entries) {
        result.push_back(entry.second);
    }
    return result;
}

// An argument vector of C strings pointing into `texts`, null-terminated.
std::vector<char *> pointersInto(std::vector<std::string> &texts) {
    std::vector<char *> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string &text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

CommandResult runCommand(const std::vector<std::string> &argv,
                         const std::vector<std::string> &environment,
                         const std::string &directory) {
    return runPreparedCommand(argv, environment, directory, nullptr);
}

CommandResult runPreparedCommand(const std::vector<std::string> &argv,
                                 const std::vector<std::string> &environment,
                                 const std::string &directory,
                                 const std::function<int()> &prepare) {
    CommandResult result;
    std::vector<std::string> args = argv;
    std::vector<std::string> env = childEnvironment(environment);
    std::vector<char *> argPointers = pointersInto(args);
    std::vector<char *> envPointers = pointersInto(env);
    // The output pipe, and one that carries the errno of a failed start:
    // close-on-exec, so that a started program closes it unwritten.
    int output[2] = {-1, -1};
    int failure[2] = {-1, -1};
    if (pipe2(output, O_CLOEXEC) != 0 || pipe2(failure, O_CLOEXEC) != 0) {
        result.output = strerror(errno);
        for (int fd : {output[0], output[1], failure[0], failure[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        return result;
    }
    pid_t pid = fork();
    if (pid < 0) {
        result.output = strerror(errno);
        for (int fd : {output[0], output[1], failure[0], failure[1]}) {
            close(fd);
        }
        return result;
    }
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        (void)signal(SIGPIPE, SIG_DFL);
        int error = prepare ? prepare() : 0;
        if (error == 0 && !directory.empty() && chdir(directory.c_str()) != 0) {
            error = errno;
        }
        if (error == 0) {
            execvpe(argPointers[0], argPointers.data(), envPointers.data());
            error = errno;
        }
        (void)!write(failure[1], &error, sizeof error);
        _exit(127);
    }
    close(output[1]);
    close(failure[1]);
    noteRunningChild(pid);
    char buffer[65536];
    for (;;) {
        ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        result.output.append(buffer, (size_t)got);
    }
    close(output[0]);
    int error = 0;
    ssize_t got = 0;
    do {
        got = read(failure[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(failure[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    noteRunningChild(0);
    if (got == (ssize_t)sizeof error) {
        result.output = strerror(error);
        return result;
    }
    result.started = true;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

bool succeeded(const CommandResult &result) {
    return result.started && result.signal == 0 && result.exitCode == 0;
}

std::string describeFailure(const std::vector<std::string> &argv, const CommandResult &result) {
    std::string program = argv.empty() ? "(nothing)" : argv[0];
    std::string what;
    if (!result.started) {
        what = program + " could not be started";
    } else if (result.signal != 0) {
        what = program + " was killed by signal " + std::to_string(result.signal);
    } else {
        what = program + " exited with status " + std::to_string(result.exitCode);
    }
    std::string tail = result.output;
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == ' ')) {
        tail.pop_back();
    }
    size_t lines = 0;
    size_t cut = tail.size();
    while (cut > 0 && lines < 3) {
        cut = tail.rfind('\n', cut - 1);
        if (cut == std::string::npos) {
            cut = 0;
            break;
        }
        lines++;
    }
    tail = tail.substr(cut == 0 ? 0 : cut + 1);
    for (char &c : tail) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return tail.empty() ? what : what + ": " + tail;
}

bool commandExists(const std::string &program) {
    return !findCommand(program).empty();
}

std::string findCommand(const std::string &program) {
    if (program.find('/') != std::string::npos) {
        return access(program.c_str(), X_OK) == 0 ? program : "";
    }
    const char *path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" +
                                program;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return "";
}
