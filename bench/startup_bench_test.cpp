// The start-up harness's own logic: how it reads its program groups and
// their environments, and the figures and targets it derives from the
// medians.
#define main startupBenchMain
#include "startup_bench.cpp"
#undef main

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace {

// Parses `words` as startup_bench's arguments after RUNS. The words stay
// alive for the whole test program, as argv's do.
std::vector<Program> parse(std::vector<std::string> words) {
    static std::deque<std::string> kept;
    std::vector<char *> argv;
    words.insert(words.begin(), {"startup_bench", "3"});
    for (const std::string &word : words) {
        kept.push_back(word);
        argv.push_back(&kept.back()[0]);
    }
    return parsePrograms((int)argv.size(), argv.data());
}

std::vector<std::string> environmentOf(const Program &program, const std::string &name) {
    std::vector<std::string> found;
    for (char *entry : program.envp) {
        if (entry != nullptr && std::string(entry).rfind(name + "=", 0) == 0) {
            found.emplace_back(entry);
        }
    }
    return found;
}

TEST(StartupBenchPrograms, GroupsAssignmentsAndArguments) {
    setenv("BENCH_TEST_SHARED", "outer", 1);
    std::vector<Program> programs =
        parse({"direct", "BENCH_TEST_SHARED=inner", "HELLO_HOME=/opt/hello", "/usr/bin/python3.11",
               "hello.py", "KEY=argument", "--", "floor", "/bin/floor", "--", "noop", "/bin/true"});
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs[0].name, "direct");
    ASSERT_EQ(programs[0].argv.size(), 4u);
    EXPECT_STREQ(programs[0].argv[0], "/usr/bin/python3.11");
    EXPECT_STREQ(programs[0].argv[2], "KEY=argument"); // after the command: an argument
    EXPECT_EQ(programs[0].argv[3], nullptr);
    EXPECT_EQ(environmentOf(programs[0], "BENCH_TEST_SHARED"),
              std::vector<std::string>{"BENCH_TEST_SHARED=inner"});
    EXPECT_EQ(environmentOf(programs[0], "HELLO_HOME"),
              std::vector<std::string>{"HELLO_HOME=/opt/hello"});
    EXPECT_EQ(programs[0].envp.back(), nullptr);
    // The other programs keep the inherited value and get none of the assignments.
    EXPECT_EQ(environmentOf(programs[1], "BENCH_TEST_SHARED"),
              std::vector<std::string>{"BENCH_TEST_SHARED=outer"});
    EXPECT_TRUE(environmentOf(programs[1], "HELLO_HOME").empty());
    EXPECT_TRUE(environmentOf(programs[2], "KEY").empty());
    unsetenv("BENCH_TEST_SHARED");
}

TEST(StartupBenchPrograms, RefusesAGroupWithoutCommand) {
    EXPECT_TRUE(parse({"floor", "/bin/floor", "--", "direct", "A=1"}).empty());
    EXPECT_TRUE(parse({"floor", "/bin/floor", "--", "noop", "--", "direct", "/bin/d"}).empty());
    EXPECT_EQ(parse({"floor", "/bin/floor"}).size(), 1u);
}

TEST(StartupBenchPrograms, OnlyShellNamesAreAssignments) {
    EXPECT_TRUE(isAssignment("A=1"));
    EXPECT_TRUE(isAssignment("_X9="));
    EXPECT_FALSE(isAssignment("=1"));
    EXPECT_FALSE(isAssignment("9A=1"));
    EXPECT_FALSE(isAssignment("A-B=1"));
    EXPECT_FALSE(isAssignment("/usr/bin/env=x"));
    EXPECT_FALSE(isAssignment("plain"));
}

TEST(StartupBenchFigures, ShareUsesTheProgramsOwnFloorElseTheCommonOne) {
    Medians median{{"python", 35.0}, {"python_commands", 14.0}, {"python_floor", 20.0},
                   {"noop", 1.0},    {"floor", 1.5},            {"owned", 18.0}};
    std::vector<double> one{1.0};
    Samples samples;
    for (const auto &entry : median) {
        samples[entry.first] = &one;
    }
    samples["owned_commands"] = &one;
    double share = 0;
    ASSERT_TRUE(printOverhead(median, samples, "python", &share));
    EXPECT_DOUBLE_EQ(share, 35.0 - (14.0 - 1.0) - 20.0);
    EXPECT_FALSE(printOverhead(median, samples, "owned", &share)); // no owned_commands
    median["owned_commands"] = 17.0;
    ASSERT_TRUE(printOverhead(median, samples, "owned", &share));
    EXPECT_DOUBLE_EQ(share, 18.0 - (17.0 - 1.0) - 1.5);
    median.erase("noop");
    EXPECT_FALSE(printOverhead(median, samples, "python", &share));
}

TEST(StartupBenchFigures, RoundByRoundPairsTheSameRound) {
    // Round by round: (10 - 4), (20 - 5), (30 - 26): median 6 ms, where the
    // difference of the medians would be 20 - 5 = 15 ms.
    std::vector<double> launcher{10, 20, 30}, command{4, 5, 26};
    Samples samples{{"x", &launcher}, {"y", &command}};
    testing::internal::CaptureStdout();
    printRoundByRound(samples, {"x"}, {"y"});
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("median 6.000 ms, p25 5.000, p75 10.500"), std::string::npos)
        << printed;
}

TEST(StartupBenchFigures, LauncherAgainstTheRuntimesCommand) {
    Medians median{{"java", 100.0}, {"java_commands", 15.0}, {"noop", 1.0}, {"java_direct", 84.0}};
    std::vector<double> launcher{100, 90}, commands{15, 15}, start{1, 1}, direct{84, 84};
    Samples samples{{"java", &launcher}, {"java_commands", &commands}, {"noop", &start},
                    {"java_direct", &direct}};
    std::vector<Program> programs = parse({"java_direct", "/usr/lib/jvm/x/bin/java", "-jar", "a"});
    ASSERT_EQ(programs.size(), 1u);
    // 100 - 84 - (15 - 1) = 2 ms
    EXPECT_TRUE(printAgainstCommand(median, samples, programs[0], "java", 0.5, true, 2.0));
    EXPECT_FALSE(printAgainstCommand(median, samples, programs[0], "java", 0.5, true, 1.99));
    EXPECT_TRUE(printAgainstCommand(median, samples, programs[0], "java", 0.5, false, -5.0));
}

TEST(StartupBenchFigures, RatiosAreReadAndHeldToTheirLimitOnCpuTime) {
    const struct {
        const char *text;
        bool valid;
        std::string name, direct;
        double limit;
    } words[] = {
        {"rhino/rhino_direct<=0.70", true, "rhino", "rhino_direct", 0.70},
        {"a/b<=1", true, "a", "b", 1.0},
        {"a/b<=", false, "", "", 0},
        {"a/b<=0", false, "", "", 0},
        {"/b<=0.5", false, "", "", 0},
        {"a<=0.5", false, "", "", 0},
        {"a/<=0.5", false, "", "", 0},
        {"a/b<=0.5x", false, "", "", 0},
    };
    for (const auto &word : words) {
        Ratio ratio;
        EXPECT_EQ(parseRatio(word.text, &ratio), word.valid) << word.text;
        if (word.valid) {
            EXPECT_EQ(ratio.name, word.name);
            EXPECT_EQ(ratio.direct, word.direct);
            EXPECT_DOUBLE_EQ(ratio.limit, word.limit);
        }
    }
    // Wall 80/100 = 0.8, CPU 60/100 = 0.6: the limit is held on CPU time.
    Medians median{{"x", 80.0}, {"x@cpu", 60.0}, {"y", 100.0}, {"y@cpu", 100.0}};
    testing::internal::CaptureStdout();
    EXPECT_TRUE(printRatios({{"x", "y", 0.6}}, median));
    EXPECT_FALSE(printRatios({{"x", "y", 0.59}}, median));
    EXPECT_FALSE(printRatios({{"x", "missing", 0.9}}, median));
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("0.600 (<= 0.60): met; wall time 0.800 = 80.000 / 100.000 ms"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("x/missing: not measured"), std::string::npos) << printed;
}

TEST(StartupBenchFigures, LauncherAgainstTheConsoleScriptWithinFivePercent) {
    struct Case {
        double launcher;
        bool met;
    };
    for (Case testCase : {Case{105.0, true}, Case{80.0, true}, Case{105.2, false}}) {
        SCOPED_TRACE(testCase.launcher);
        Medians median{{"lint", testCase.launcher}, {"lint_script", 100.0}};
        std::vector<double> launcher{testCase.launcher}, script{100.0};
        Samples samples{{"lint", &launcher}, {"lint_script", &script}};
        std::vector<Program> programs = parse({"lint", "/opt/lint/bin/lint", "--", "lint_script",
                                               "/usr/bin/lint", "--", "other_script", "/x"});
        testing::internal::CaptureStdout();
        EXPECT_EQ(printScriptComparisons(programs, median, samples), testCase.met);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find(testCase.met ? ": met" : ": MISSED"), std::string::npos) << printed;
        EXPECT_EQ(printed.find("other"), std::string::npos) << printed;
    }
}

TEST(StartupBenchFigures, Quantiles) {
    EXPECT_DOUBLE_EQ(quantile({4, 1, 3, 2}, 0.5), 2.5);
    EXPECT_DOUBLE_EQ(quantile({4, 1, 3, 2}, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(quantile({7}, 0.25), 7.0);
}

} // namespace
