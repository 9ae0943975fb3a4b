// The reference library's lines on standard error: one write per line,
// control characters defused, and a failed write never ends the process
// (SIGPIPE and SIGXFSZ keep their default action here, which would).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "diagnostics.h"

namespace {

// Whether `sig` is pending for this thread or the process.
bool pending(int sig) {
    sigset_t set;
    sigpending(&set);
    return sigismember(&set, sig) == 1;
}

TEST(AuxDiagnostics, AWriteToAClosedPipeOrPastTheFileSizeLimitNeverEndsTheProcess) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    writeQuietly(ends[1], "line\n", 5);
    EXPECT_FALSE(pending(SIGPIPE));

    // A SIGPIPE pending before the write stays pending, and the mask as it was.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    raise(SIGPIPE);
    writeQuietly(ends[1], "line\n", 5);
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
    writeQuietly(fileno(file), "line\n", 5);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(pending(SIGXFSZ));
    EXPECT_EQ(lseek(fileno(file), 0, SEEK_END), 3);
    fclose(file);
}

TEST(AuxDiagnostics, WritesOneWholeLineWithControlCharactersDefused) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    int savedError = dup(STDERR_FILENO);
    dup2(ends[1], STDERR_FILENO);
    writeLine("[7]: ", "config: [%s]", "a\nb\rc\x7f\td");
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    close(ends[1]);
    char text[64] = {};
    EXPECT_GT(read(ends[0], text, sizeof text - 1), 0);
    close(ends[0]);
    EXPECT_STREQ(text, "[7]: config: [a?b?c?\td]\n");
}

}  // namespace
