// The one quiet writer: the debug switch, a write that a reader that has
// gone or a file size limit never turns into the end of the process
// (SIGPIPE and SIGXFSZ keep their default action here, which would), and
// a report's copy in the journal, received on a socket of the test's own
// in a private mount namespace.
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quiet_writer.h"

namespace {

TEST(QuietWriter, OnlyTheExactValueTrueTurnsTheDebugSwitchOn) {
    struct Case {
        const char *value;
        bool on;
    };
    for (Case c : {Case{"true", true}, Case{"TRUE", false}, Case{"True", false},
                   Case{"1", false}, Case{"true ", false}, Case{" true", false},
                   Case{"", false}, Case{nullptr, false}}) {
        if (c.value != nullptr) {
            setenv("SORVANTA_DEBUG", c.value, 1);
        } else {
            unsetenv("SORVANTA_DEBUG");
        }
        EXPECT_EQ(quietDebugEnabled(), c.on) << (c.value != nullptr ? c.value : "(unset)");
    }
    unsetenv("SORVANTA_DEBUG");
}

// Whether `sig` is pending for this thread or the process.
bool pending(int sig) {
    sigset_t set;
    sigpending(&set);
    return sigismember(&set, sig) == 1;
}

TEST(QuietWriter, AWriteToAClosedPipeOrPastTheFileSizeLimitNeverEndsTheProcess) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    quietWrite(ends[1], "line\n", 5);
    EXPECT_FALSE(pending(SIGPIPE));

    // A SIGPIPE pending before the write stays pending, and the mask as it was.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    raise(SIGPIPE);
    quietWrite(ends[1], "line\n", 5);
    EXPECT_TRUE(pending(SIGPIPE));
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), 1);
    const timespec noWait = {0, 0};
    sigtimedwait(&pipeSignal, nullptr, &noWait);
    pthread_sigmask(SIG_UNBLOCK, &pipeSignal, nullptr);
    close(ends[1]);

    FILE *file = tmpfile();
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = {3, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    quietWrite(fileno(file), "line\n", 5);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(pending(SIGXFSZ));
    EXPECT_EQ(lseek(fileno(file), 0, SEEK_END), 3);
    fclose(file);
}

TEST(QuietWriter, KeepsErrnoAndWritesEveryByteThroughShortWrites) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::string text(200000, 'x');  // more than a pipe holds at once
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        close(ends[1]);
        char buffer[4096];
        size_t total = 0;
        ssize_t got;
        while ((got = read(ends[0], buffer, sizeof buffer)) > 0) {
            total += (size_t)got;
        }
        _exit(total == 200000 ? 0 : 1);
    }
    close(ends[0]);
    errno = EDOM;
    quietWrite(ends[1], text.data(), text.size());
    EXPECT_EQ(errno, EDOM);
    close(ends[1]);
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The text of the file at `path`, "" when it cannot be read.
std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes `text` to the file at `path`; false when that fails.
bool writeText(const char *path, const std::string &text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    bool written = fd >= 0 && write(fd, text.data(), text.size()) == (ssize_t)text.size();
    if (fd >= 0) {
        close(fd);
    }
    return written;
}

// In a child process: a mount namespace of its own (inside a user
// namespace when no plain one can be had) whose /run is a new tmpfs and
// whose /run/systemd/journal/socket is the socket bound at `socketPath`
// (none when empty). False when no namespace or mount could be had.
bool privateJournal(const std::string &socketPath) {
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !writeText("/proc/self/setgroups", "deny") ||
            !writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return false;
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0 ||
        mkdir("/run/systemd", 0755) != 0 || mkdir("/run/systemd/journal", 0755) != 0) {
        return false;
    }
    if (socketPath.empty()) {
        return true;
    }
    int placeholder = open("/run/systemd/journal/socket", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (placeholder < 0) {
        return false;
    }
    close(placeholder);
    return mount(socketPath.c_str(), "/run/systemd/journal/socket", nullptr, MS_BIND, nullptr) == 0;
}

// The fields of each datagram waiting on the non-blocking socket `fd`,
// one "FIELD=value" line each.
std::vector<std::vector<std::string>> receiveAll(int fd) {
    std::vector<std::vector<std::string>> datagrams;
    char buffer[65536];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof buffer, 0)) >= 0) {
        std::vector<std::string> fields;
        std::istringstream in(std::string(buffer, (size_t)got));
        for (std::string line; std::getline(in, line);) {
            fields.push_back(line);
        }
        datagrams.push_back(fields);
    }
    return datagrams;
}

// A journal socket of the test's own, bound in a temporary directory.
struct TestJournal {
    TestJournal() {
        char pattern[] = "/tmp/quiet-journal-XXXXXX";
        dir = mkdtemp(pattern) != nullptr ? pattern : "";
        path = dir + "/socket";
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound = !dir.empty() && fd >= 0 &&
                bind(fd, (const sockaddr *)&address, sizeof address) == 0;
    }
    ~TestJournal() {
        close(fd);
        unlink(path.c_str());
        unlink((dir + "/stderr").c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
    std::string path;
    int fd = -1;
    bool bound = false;
};

// How a child's report went: its exit status (77: no private journal
// could be had), what it wrote on standard error (a file) and what the
// journal received.
struct Reported {
    int status = -1;
    std::string stderrText;
    std::vector<std::vector<std::string>> datagrams;
};

// Calls quietReport(text) in a child process whose journal socket is
// `journal`'s (none when `withSocket` is false) and whose standard error
// is a file in the journal's directory, or a terminal when `terminal`.
// The child ends with status 0 when errno came back as it was, 3 when not,
// and is killed by SIGALRM when the report blocks for 10 s.
Reported reportInChild(TestJournal &journal, const std::string &text, bool terminal,
                       bool withSocket) {
    Reported reported;
    std::string errPath = journal.dir + "/stderr";
    int master = terminal ? posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (terminal && (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)) {
        ADD_FAILURE() << "no terminal: " << strerror(errno);
        return reported;
    }
    std::string terminalPath = terminal ? ptsname(master) : "";
    pid_t child = fork();
    if (child == 0) {
        if (!privateJournal(withSocket ? journal.path : "")) {
            _exit(77);
        }
        int err = terminal ? open(terminalPath.c_str(), O_RDWR | O_NOCTTY)
                           : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, STDERR_FILENO);
        close(err);
        alarm(10);
        errno = EDOM;
        quietReport(text.data(), text.size());
        _exit(errno == EDOM ? 0 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    reported.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    reported.stderrText = readText(errPath);
    reported.datagrams = receiveAll(journal.fd);
    if (master >= 0) {
        close(master);
    }
    return reported;
}

TEST(QuietWriter, AReportGoesToTheJournalLineByLineOnlyWhereStandardErrorIsNoTerminal) {
    using Fields = std::vector<std::string>;
    auto entry = [](const std::string &message) {
        return Fields{"MESSAGE=" + message, "PRIORITY=3", "SYSLOG_IDENTIFIER=quiet_writer_test"};
    };
    struct Case {
        const char *name;
        std::string text;
        bool terminal;
        bool withSocket;
        std::vector<Fields> datagrams;
    };
    const std::vector<Case> cases = {
        {"one line", "applauncher: a.cfg:2: line has no '='\n", false, true,
         {entry("applauncher: a.cfg:2: line has no '='")}},
        {"two lines, controls escaped", std::string("first\tline\nsecond\x01\r\x7f\0end\n", 25),
         false, true, {entry("first\tline"), entry("second????end")}},
        {"empty lines and no final newline", "\n\nonly\n\nlast", false, true,
         {entry("only"), entry("last")}},
        {"standard error a terminal", "applauncher: out of memory\n", true, true, {}},
        {"no journal socket", "applauncher: out of memory\n", false, false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestJournal journal;
        ASSERT_TRUE(journal.bound) << strerror(errno);
        Reported reported = reportInChild(journal, c.text, c.terminal, c.withSocket);
        if (reported.status == 77) {
            GTEST_SKIP() << "no private mount namespace for a journal socket of the test's own";
        }
        EXPECT_EQ(reported.status, 0);
        EXPECT_EQ(reported.stderrText, c.terminal ? "" : c.text);
        EXPECT_EQ(reported.datagrams, c.datagrams);
    }
}

TEST(QuietWriter, AJournalThatDoesNotReadNeitherBlocksTheReportNorGetsIt) {
    TestJournal journal;
    ASSERT_TRUE(journal.bound) << strerror(errno);
    int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", journal.path.c_str());
    int queued = 0;
    while (queued < 100000 && sendto(sender, "MESSAGE=filler\n", 15, 0,
                                     (const sockaddr *)&address, sizeof address) == 15) {
        queued++;
    }
    ASSERT_EQ(errno, EAGAIN);
    close(sender);
    Reported reported = reportInChild(journal, "applauncher: out of memory\n", false, true);
    if (reported.status == 77) {
        GTEST_SKIP() << "no private mount namespace for a journal socket of the test's own";
    }
    EXPECT_EQ(reported.status, 0) << "128 + 14: the report blocked on the full journal";
    EXPECT_EQ(reported.stderrText, "applauncher: out of memory\n");
    EXPECT_EQ(reported.datagrams.size(), (size_t)queued);
}

}  // namespace
