// The one quiet writer: the debug switch, and a write that a reader that
// has gone or a file size limit never turns into the end of the process
// (SIGPIPE and SIGXFSZ keep their default action here, which would).
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

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

}  // namespace
