// Running the package manager commands and reading their output lines.
#include "../locator/locator.cpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <string>
#include <vector>

#include "captured_stderr.h"

namespace {

// Prints its argument unchanged: the template holds no "%s" but its one.
const char *printTemplate = "f=%; printf \"${f}s\" '%s'";

struct Collected {
    std::vector<std::string> lines;
    int32_t answer = 1;
};

int32_t collect(void *context, char *line) {
    Collected *collected = (Collected *)context;
    collected->lines.push_back(line);
    return collected->answer;
}

std::vector<std::string> linesOf(const std::string &output, int32_t *status = nullptr) {
    Collected collected;
    int32_t result = popenCommand(printTemplate, output.c_str(), collect, &collected);
    if (status != nullptr) {
        *status = result;
    }
    return collected.lines;
}

TEST(LineReader, DeliversNonEmptyLinesAndLogsEachWithTheCommand) {
    CapturedStderr err;
    Collected collected;
    int32_t status = popenCommand("printf 'a\\n\\nb\\n' # '%s'", "x", collect, &collected);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(collected.lines, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(err.text(), "popen: (printf 'a\\n\\nb\\n' # 'x')\n"
                          "popen: [a]\n"
                          "popen: [b]\n"
                          "popen: exit: 0\n");
}

TEST(LineReader, LastLineWithoutNewlineAndEmptyOutputs) {
    EXPECT_EQ(linesOf("pkg"), std::vector<std::string>{"pkg"});
    EXPECT_EQ(linesOf("x\ny"), (std::vector<std::string>{"x", "y"}));
    for (const char *nothing : {"", "\n", "\n\n\n"}) {
        int32_t status = -1;
        EXPECT_TRUE(linesOf(nothing, &status).empty());
        EXPECT_EQ(status, 0);
    }
}

TEST(LineReader, LinesAroundTheBufferCapacitiesArriveIntact) {
    std::string output;
    std::vector<std::string> expected;
    for (size_t length : {1, 2, 3, 4, 6, 7, 8, 14, 15, 16, 31, 32, 100000}) {
        expected.push_back(std::string(length, (char)('a' + length % 26)));
        output += expected.back() + "\n";
    }
    EXPECT_EQ(linesOf(output), expected);
}

// The output is read in blocks of 64 KiB: lines and newlines that straddle
// a block's edge, empty lines at an edge and a last line without its
// newline all arrive as written, in order.
TEST(LineReader, LinesAcrossReadBlockEdgesArriveIntact) {
    const size_t block = 65536;
    std::string output;
    std::vector<std::string> expected;
    auto add = [&](size_t length, char fill, const char *ending) {
        expected.push_back(std::string(length, fill));
        output += expected.back() + ending;
    };
    add(block - 1, 'a', "\n");     // its newline is the block's last byte
    add(block, 'b', "\n");         // ends one byte into the third block
    add(block - 2, 'c', "\n\n\n"); // empty lines across an edge
    for (int i = 0; i < 50000; i++) {
        add(1 + (size_t)i % 61, (char)('d' + i % 20), "\n");
    }
    add(block + 7, 'z', "");        // the last line has no newline
    char file[] = "/tmp/applauncher-output-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, output.data(), output.size()), (ssize_t)output.size());
    close(fd);
    Collected collected;
    EXPECT_EQ(popenCommand("cat '%s'", file, collect, &collected), 0);
    unlink(file);
    ASSERT_EQ(collected.lines.size(), expected.size());
    EXPECT_TRUE(collected.lines == expected);
}

void onAlarm(int) {}

// A read interrupted by a signal without SA_RESTART is repeated: the
// command's output is not cut short at the interruption.
TEST(LineReader, InterruptedReadsLoseNoOutput) {
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = onAlarm;
    sigaction(SIGALRM, &action, &previous);
    itimerval every = {{0, 500}, {0, 500}};
    itimerval off = {};
    setitimer(ITIMER_REAL, &every, nullptr);
    Collected collected;
    int32_t status = popenCommand(
        "for i in 1 2 3 4 5 6; do echo line$i; sleep 0.02; done # '%s'", "", collect, &collected);
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(collected.lines, (std::vector<std::string>{"line1", "line2", "line3", "line4",
                                                         "line5", "line6"}));
}

TEST(LineReader, StatusIsTheUndecodedWaitStatus) {
    CapturedStderr err;
    Collected collected;
    EXPECT_EQ(popenCommand("exit 1 # '%s'", "", collect, &collected), 256);
    EXPECT_EQ(popenCommand("printf 'x\\n'; exit 3 # '%s'", "", collect, &collected), 768);
    EXPECT_NE(popenCommand("no-such-command-here '%s'", "", collect, &collected), 0);
    EXPECT_NE(err.text().find("popen: exit: 256\n"), std::string::npos);
}

// A callback that answers anything but 1 gets no further lines, and the
// command still runs to its end: its status is that of the whole command.
TEST(LineReader, CallbackStopsDeliveryButTheOutputIsReadToItsEnd) {
    for (int32_t answer : {0, 2, -1}) {
        Collected collected;
        collected.answer = answer;
        int32_t status = popenCommand(
            "i=0; while [ $i -lt 20000 ]; do echo line$i; i=$((i+1)); done; exit 5 # '%s'", "",
            collect, &collected);
        EXPECT_EQ(collected.lines, std::vector<std::string>{"line0"});
        EXPECT_EQ(status, 5 << 8) << "answer " << answer;
    }
}

// The argument stays one word whatever it holds, and the shell receives it
// unchanged; the logged command shows the quoted form.
TEST(CommandText, ArgumentStaysOneUnchangedWord) {
    for (std::string argument : {"plain", "it's", "''", "'", "a b  c", "$(echo X)", "`echo Y`",
                                 "x; echo Z", "a|b&c>d<e", "*?[a]", "\\'\\", "-rf", "%s %n %{NAME}",
                                 "\"double\"", "\xff\xfe non-UTF-8"}) {
        EXPECT_EQ(linesOf(argument), std::vector<std::string>{argument}) << argument;
    }
    EXPECT_EQ(linesOf("line one\nline 'two'"),
              (std::vector<std::string>{"line one", "line 'two'"}));
    char *command = buildCommand("rpm -ql '%s' 2>/dev/null", "a'b");
    EXPECT_STREQ(command, "rpm -ql 'a'\\''b' 2>/dev/null");
    free(command);
    command = buildCommand("rpm --queryformat '%{NAME}' -qf '%s' 2>/dev/null", "''");
    EXPECT_STREQ(command, "rpm --queryformat '%{NAME}' -qf ''\\'''\\''' 2>/dev/null");
    free(command);
}

TEST(OutputLines, LibraryMatchesOnlyAsTheLastPathComponent) {
    for (auto [line, matches] : {std::pair<std::string, bool>{"/libapplauncher.so", true},
                                 {"/opt/a/lib/libapplauncher.so", true},
                                 {"libapplauncher.so", false},
                                 {"/x/libapplauncher.so.1", false},
                                 {"/x/LIBAPPLAUNCHER.so", false},
                                 {"/x/mylibapplauncher.so", false},
                                 {"", false}}) {
        char *slot = nullptr;
        std::string text = line;
        EXPECT_EQ(findLauncherLib(&slot, text.data()), matches ? 0 : 1) << line;
        EXPECT_EQ(slot != nullptr, matches) << line;
        if (slot != nullptr) {
            EXPECT_EQ(std::string(slot), line);
        }
        free(slot);
    }
}

TEST(OutputLines, PackageNamesFromTheOwnerQueries) {
    PackageDesc desc = {nullptr, 0};
    std::string line = "name:amd64: /opt/app/bin/app";
    EXPECT_EQ(initDebPackage(&desc, line.data()), 0);
    EXPECT_STREQ(desc.name, "name");
    EXPECT_EQ(desc.type, 2);
    line = ": /x";
    initDebPackage(&desc, line.data());
    EXPECT_STREQ(desc.name, "");
    for (std::string diversion : {"diversion by other from: /opt/app/bin/app",
                                  "diversion by other to: /opt/app/bin/app.real",
                                  "local diversion from: /opt/app/bin/app",
                                  "Umleitung von other nach: /x"}) {
        EXPECT_EQ(initDebPackage(&desc, diversion.data()), 1) << diversion;
        EXPECT_STREQ(desc.name, "") << diversion;
    }
    line = "first, second: /usr/share/doc";
    EXPECT_EQ(initDebPackage(&desc, line.data()), 0);
    EXPECT_STREQ(desc.name, "first, second");
    line = "rpm-name";
    EXPECT_EQ(initRpmPackage(&desc, line.data()), 0);
    EXPECT_STREQ(desc.name, "rpm-name");
    EXPECT_EQ(desc.type, 1);
    free(desc.name);
}

TEST(FallbackPath, IsTheLibBesideTheExecutableDirectory) {
    for (auto [exe, library] :
         {std::pair<std::string, std::string>{"/opt/app/bin/app", "/opt/app/lib/libapplauncher.so"},
          {"/bin/app", "//lib/libapplauncher.so"},
          {"/app", "//lib/libapplauncher.so"},
          {"/a b/'q'/bin/x", "/a b/'q'/lib/libapplauncher.so"}}) {
        std::string path = exe;
        char *result = fallbackLibPath(path.data());
        EXPECT_STREQ(result, library.c_str());
        free(result);
    }
}

}  // namespace
