// Times whole programs from start to exit, interleaved so that every
// program sees the same machine: each round runs every command once, in
// an order shuffled afresh for every round, so that no program always
// follows the same other one. Prints each command's median,
// quartiles and minimum, then, from the medians, for every program X
// given with an X_commands:
//   the launcher's own share  X - (X_commands - noop) - floor
// where the floor is X_floor when given, else floor; and for every X
// given with an X_direct (the runtime's own command running the same
// program):
//   X - X_direct - (X_commands - noop)
// against its target, the fallback program's own share + 2 ms; and for
// every X given with an X_script (the console script that the runtime's
// packaging generates for the same entry point, as the distribution ships
// it), X against X_script with the target: at most 5 % slower. The
// fallback program's own share has the target 1 ms, unless
// --fallback-reference makes it only the reference of those targets.
// Each such figure is also printed taken round by round (the median of
// its value in each round), as a cross-check of its spread.
// A program that exits with a status other than 0 stops the benchmark.
//
// VARIABLE=VALUE words between a NAME and its COMMAND are set in that
// program's environment alone.
//
// With --ratio NAME/DIRECT<=LIMIT, it also prints the ratio of the two
// programs' median CPU times (user and system, their children's included)
// against LIMIT, with the ratio of their median wall times beside it; with
// --extra NAME-OTHER, the difference of their medians, without a target.
//
// Usage: startup_bench [--fallback-reference] [--ratio NAME/DIRECT<=LIMIT]...
//        [--extra NAME-OTHER]... RUNS NAME [VARIABLE=VALUE...] COMMAND [ARG...]
//        [-- NAME ...]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Program {
    std::string name;
    std::vector<std::string> assignments; // VARIABLE=VALUE, this program's alone
    std::vector<char *> argv;             // null-terminated
    std::vector<char *> envp;             // null-terminated
    std::vector<double> milliseconds;
    std::vector<double> cpuMilliseconds;  // user + system, its children's included
};

double now() {
    timespec at;
    clock_gettime(CLOCK_MONOTONIC, &at);
    return (double)at.tv_sec * 1e3 + (double)at.tv_nsec / 1e6;
}

// Runs the program once with its standard streams on /dev/null. Returns
// its wall time in milliseconds, or a negative number when it could not
// start or did not exit with status 0; stores the CPU time it and its
// children took in *cpu.
double runOnce(Program &program, double *cpu) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; fd++) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    double start = now();
    pid_t pid;
    int failed = posix_spawn(&pid, program.argv[0], &actions, nullptr, program.argv.data(),
                             program.envp.data());
    int status = 0;
    rusage usage{};
    if (failed == 0) {
        wait4(pid, &status, 0, &usage);
    }
    double elapsed = now() - start;
    *cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return elapsed;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    double at = q * (double)(values.size() - 1);
    size_t below = (size_t)at;
    size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (at - (double)below) * (values[above] - values[below]);
}

// Whether `word` is VARIABLE=VALUE with a shell variable name.
bool isAssignment(const char *word) {
    const char *equals = std::strchr(word, '=');
    if (equals == nullptr || equals == word || std::isdigit((unsigned char)word[0])) {
        return false;
    }
    for (const char *c = word; c < equals; c++) {
        if (!std::isalnum((unsigned char)*c) && *c != '_') {
            return false;
        }
    }
    return true;
}

// The environment of `program`: this process's, less the variables its
// assignments name, then its assignments.
void buildEnvironment(Program &program) {
    for (char **entry = environ; *entry != nullptr; entry++) {
        bool replaced = false;
        for (const std::string &assignment : program.assignments) {
            size_t length = assignment.find('=') + 1;
            replaced = replaced || std::strncmp(*entry, assignment.c_str(), length) == 0;
        }
        if (!replaced) {
            program.envp.push_back(*entry);
        }
    }
    for (std::string &assignment : program.assignments) {
        program.envp.push_back(&assignment[0]);
    }
    program.envp.push_back(nullptr);
}

// The programs named on the command line from argv[2] on: groups of
// NAME [VARIABLE=VALUE...] COMMAND [ARG...] separated by "--". Empty when
// a group lacks its command.
std::vector<Program> parsePrograms(int argc, char **argv) {
    std::vector<Program> programs;
    bool groupStarts = true;
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--") == 0) {
            groupStarts = true;
        } else if (groupStarts) {
            programs.push_back(Program{argv[i], {}, {}, {}, {}, {}});
            groupStarts = false;
        } else if (programs.back().argv.empty() && isAssignment(argv[i])) {
            programs.back().assignments.push_back(argv[i]);
        } else {
            programs.back().argv.push_back(argv[i]);
        }
    }
    for (Program &program : programs) {
        if (program.argv.empty()) {
            return {};
        }
        program.argv.push_back(nullptr);
        buildEnvironment(program);
    }
    return programs;
}

using Medians = std::map<std::string, double>;
using Samples = std::map<std::string, const std::vector<double> *>;

// Prints the median and quartiles of `plus` - `minus` + ... taken round by
// round: the i-th time of each program named in `plus` added, of each in
// `minus` subtracted.
void printRoundByRound(const Samples &samples, std::initializer_list<std::string> plus,
                       std::initializer_list<std::string> minus) {
    std::vector<double> rounds(samples.at(*plus.begin())->size(), 0.0);
    for (size_t i = 0; i < rounds.size(); i++) {
        for (const std::string &name : plus) {
            rounds[i] += (*samples.at(name))[i];
        }
        for (const std::string &name : minus) {
            rounds[i] -= (*samples.at(name))[i];
        }
    }
    std::printf("%8s the same round by round: median %.3f ms, p25 %.3f, p75 %.3f\n", "",
                quantile(rounds, 0.5), quantile(rounds, 0.25), quantile(rounds, 0.75));
}

// Whether every program in `names` was measured.
bool measured(const Medians &median, std::initializer_list<std::string> names) {
    for (const std::string &name : names) {
        if (median.count(name) == 0) {
            return false;
        }
    }
    return true;
}

// The floor of program `name`: name_floor when measured, else floor.
std::string floorOf(const Medians &median, const std::string &name) {
    return median.count(name + "_floor") != 0 ? name + "_floor" : "floor";
}

// Prints the launcher's own share of `name`, `name` - (`name`_commands -
// noop) - its floor, from the medians (and round by round), when all four
// were measured, and stores it in `overhead`. Returns whether they were.
bool printOverhead(const Medians &median, const Samples &samples, const std::string &name,
                   double *overhead) {
    std::string commands = name + "_commands";
    std::string floor = floorOf(median, name);
    if (!measured(median, {name, commands, "noop", floor})) {
        return false;
    }
    double external = median.at(commands) - median.at("noop");
    *overhead = median.at(name) - external - median.at(floor);
    std::printf("%-8s %8.3f ms = %.3f (launcher) - %.3f (its commands: %.3f - %.3f to start a "
                "program) - %.3f (%s)\n",
                name.c_str(), *overhead, median.at(name), external, median.at(commands),
                median.at("noop"), median.at(floor), floor.c_str());
    printRoundByRound(samples, {name, "noop"}, {commands, floor});
    return true;
}

// Prints, for program `name` (the launcher) and `direct` (the runtime's
// own command on the same program), launcher - direct - (its commands -
// noop) from the medians, against `limit` (none when `limited` is false),
// beside the launcher's own share `share` and, as a cross-check, the
// same difference taken round by round.
// Returns whether the target was met (true without one).
bool printAgainstCommand(const Medians &median, const Samples &samples, const Program &direct,
                         const std::string &name, double share, bool limited, double limit) {
    std::string command = direct.argv[0];
    command = command.substr(command.rfind('/') + 1);
    double queries = median.at(name + "_commands") - median.at("noop");
    double difference = median.at(name) - median.at(direct.name) - queries;
    std::printf("%-8s %8.3f ms = %.3f (launcher) - %.3f (%s) - %.3f (its commands); "
                "the launcher's own share %.3f ms\n",
                name.c_str(), difference, median.at(name), median.at(direct.name),
                command.c_str(), queries, share);
    printRoundByRound(samples, {name, "noop"}, {direct.name, name + "_commands"});
    if (!limited) {
        std::printf("%8s no target: no fallback share measured in this run\n", "");
        return true;
    }
    std::string what = "launcher - " + command + " - its commands (" + name + ")";
    bool met = difference <= limit;
    std::printf("TARGET %-58s %10.3f ms (<= %.3f ms = fallback share + 2): %s\n", what.c_str(),
                difference, limit, met ? "met" : "MISSED");
    return met;
}

// Runs `runs` rounds after the warm-up ones (which fill the caches; a
// short run keeps fewer), every program once per round in a freshly
// shuffled order, keeping the times. Returns false, naming the program,
// when one fails.
bool runRounds(std::vector<Program> &programs, int runs) {
    std::vector<size_t> order(programs.size());
    for (size_t i = 0; i < order.size(); i++) {
        order[i] = i;
    }
    int warmUp = std::min(5, std::max(1, runs / 10));
    std::mt19937 random(20261208);
    for (int round = 0; round < runs + warmUp; round++) {
        std::shuffle(order.begin(), order.end(), random);
        for (size_t i : order) {
            Program &program = programs[i];
            double cpu = 0;
            double elapsed = runOnce(program, &cpu);
            if (elapsed < 0) {
                std::fprintf(stderr, "startup_bench: %s (%s) failed\n", program.name.c_str(),
                             program.argv[0]);
                return false;
            }
            if (round >= warmUp) {
                program.milliseconds.push_back(elapsed);
                program.cpuMilliseconds.push_back(cpu);
            }
        }
    }
    return true;
}

// Prints each program's median, quartiles and minimum; fills `median` and
// `samples`.
void printTable(const std::vector<Program> &programs, int runs, Medians *median,
                Samples *samples) {
    std::printf("%-18s %9s %9s %9s %9s %9s  (ms, %d runs each, interleaved)\n", "program",
                "median", "p25", "p75", "min", "cpu", runs);
    for (const Program &program : programs) {
        (*median)[program.name] = quantile(program.milliseconds, 0.5);
        (*median)[program.name + "@cpu"] = quantile(program.cpuMilliseconds, 0.5);
        (*samples)[program.name] = &program.milliseconds;
        std::printf("%-18s %9.3f %9.3f %9.3f %9.3f %9.3f\n", program.name.c_str(),
                    (*median)[program.name], quantile(program.milliseconds, 0.25),
                    quantile(program.milliseconds, 0.75), quantile(program.milliseconds, 0.0),
                    (*median)[program.name + "@cpu"]);
    }
}

// Prints the launcher's own share of every program that has one; returns
// them by name.
std::map<std::string, double> printShares(const std::vector<Program> &programs,
                                          const Medians &median, const Samples &samples) {
    std::map<std::string, double> share;
    bool headed = false;
    for (const Program &program : programs) {
        if (!headed && measured(median, {program.name + "_commands"})) {
            std::printf("\nlauncher's own share, from the medians:\n");
            headed = true;
        }
        double overhead;
        if (printOverhead(median, samples, program.name, &overhead)) {
            share[program.name] = overhead;
        }
    }
    return share;
}

// Prints printAgainstCommand for every X with an X_direct and a share of
// its own; returns whether every target was met.
bool printComparisons(const std::vector<Program> &programs, const Medians &median,
                      const Samples &samples, const std::map<std::string, double> &share,
                      bool limited, double limit) {
    bool met = true;
    bool headed = false;
    for (const Program &direct : programs) {
        size_t suffix = direct.name.rfind("_direct");
        if (suffix == std::string::npos || suffix + 7 != direct.name.size()) {
            continue;
        }
        std::string name = direct.name.substr(0, suffix);
        if (share.count(name) == 0) {
            continue;
        }
        if (!headed) {
            std::printf("\nthe launcher against the runtime's own command, from the medians:\n");
            headed = true;
        }
        met = printAgainstCommand(median, samples, direct, name, share.at(name), limited, limit) &&
              met;
    }
    return met;
}

// A ratio asked for with --ratio NAME/DIRECT<=LIMIT.
struct Ratio {
    std::string name;
    std::string direct;
    double limit;
};

// Reads "NAME/DIRECT<=LIMIT" into *ratio; false when it is not of that form.
bool parseRatio(const char *text, Ratio *ratio) {
    std::string word = text;
    size_t slash = word.find('/');
    size_t bound = word.find("<=");
    if (slash == std::string::npos || bound == std::string::npos || slash == 0 ||
        bound < slash + 2) {
        return false;
    }
    char *end = nullptr;
    ratio->name = word.substr(0, slash);
    ratio->direct = word.substr(slash + 1, bound - slash - 1);
    ratio->limit = std::strtod(word.c_str() + bound + 2, &end);
    return *end == '\0' && ratio->limit > 0;
}

// Prints, for each ratio whose programs were measured, the medians' ratio
// of CPU time (user and system, children included) against its limit and
// of wall time beside it. Returns whether every limit was kept.
bool printRatios(const std::vector<Ratio> &ratios, const Medians &median) {
    bool met = true;
    for (const Ratio &ratio : ratios) {
        if (!measured(median, {ratio.name, ratio.direct})) {
            std::printf("%s/%s: not measured\n", ratio.name.c_str(), ratio.direct.c_str());
            met = false;
            continue;
        }
        double cpu = median.at(ratio.name + "@cpu") / median.at(ratio.direct + "@cpu");
        double wall = median.at(ratio.name) / median.at(ratio.direct);
        bool kept = cpu <= ratio.limit;
        std::string what = ratio.name + " / " + ratio.direct + ", CPU time";
        std::printf("TARGET %-58s %10.3f (<= %.2f): %s; wall time %.3f = %.3f / %.3f ms\n",
                    what.c_str(), cpu, ratio.limit, kept ? "met" : "MISSED", wall,
                    median.at(ratio.name), median.at(ratio.direct));
        met = met && kept;
    }
    return met;
}

// Prints, for every X with an X_script, X / X_script - 1 from the medians
// (and X - X_script round by round) against the target of 5 %; returns
// whether every target was met.
bool printScriptComparisons(const std::vector<Program> &programs, const Medians &median,
                            const Samples &samples) {
    bool met = true;
    bool headed = false;
    for (const Program &script : programs) {
        size_t suffix = script.name.rfind("_script");
        if (suffix == std::string::npos || suffix + 7 != script.name.size() ||
            median.count(script.name.substr(0, suffix)) == 0) {
            continue;
        }
        std::string name = script.name.substr(0, suffix);
        if (!headed) {
            std::printf("\nthe launcher against the console script of the same entry point, "
                        "from the medians:\n");
            headed = true;
        }
        double ratio = median.at(name) / median.at(script.name) - 1.0;
        std::string command = script.argv[0];
        command = command.substr(command.rfind('/') + 1);
        std::printf("%-8s %+8.1f %% = %.3f (launcher) / %.3f (%s) - 1\n", name.c_str(),
                    ratio * 100, median.at(name), median.at(script.name), command.c_str());
        printRoundByRound(samples, {name}, {script.name});
        bool within = median.at(name) <= 1.05 * median.at(script.name);
        std::string what = "launcher against " + command + " (" + name + ")";
        std::printf("TARGET %-58s %+9.1f %% (<= +5.0 %%): %s\n", what.c_str(), ratio * 100,
                    within ? "met" : "MISSED");
        met = within && met;
    }
    return met;
}

// Prints the difference of two programs' medians, wall and CPU time, for
// each "NAME-OTHER" of `extras` whose programs were measured.
void printExtras(const std::vector<std::string> &extras, const Medians &median) {
    for (const std::string &extra : extras) {
        size_t dash = extra.find('-');
        std::string name = extra.substr(0, dash);
        std::string other = dash == std::string::npos ? "" : extra.substr(dash + 1);
        if (!measured(median, {name, other})) {
            continue;
        }
        std::printf("%-8s %s - %s: %+.3f ms wall, %+.3f ms CPU (no target)\n", "", name.c_str(),
                    other.c_str(), median.at(name) - median.at(other),
                    median.at(name + "@cpu") - median.at(other + "@cpu"));
    }
}

} // namespace

int main(int argc, char **argv) {
    bool fallbackTarget = true;
    std::vector<Ratio> ratios;
    std::vector<std::string> extras;
    for (;;) {
        Ratio ratio;
        if (argc > 2 && std::strcmp(argv[1], "--ratio") == 0 && parseRatio(argv[2], &ratio)) {
            ratios.push_back(ratio);
        } else if (argc > 2 && std::strcmp(argv[1], "--extra") == 0) {
            extras.emplace_back(argv[2]);
        } else if (argc > 1 && std::strcmp(argv[1], "--fallback-reference") == 0) {
            fallbackTarget = false;
            argc--;
            argv++;
            continue;
        } else {
            break;
        }
        argc -= 2;
        argv += 2;
    }
    int runs = argc > 1 ? std::atoi(argv[1]) : 0;
    std::vector<Program> programs = parsePrograms(argc, argv);
    if (runs < 1 || programs.empty()) {
        std::fprintf(stderr, "usage: startup_bench [--fallback-reference] [--ratio "
                             "NAME/DIRECT<=LIMIT]... [--extra NAME-OTHER]... RUNS NAME "
                             "[VARIABLE=VALUE...] COMMAND [ARG...] [-- NAME ...]...\n");
        return 2;
    }
    if (!runRounds(programs, runs)) {
        return 1;
    }
    Medians median;
    Samples samples;
    printTable(programs, runs, &median, &samples);
    std::map<std::string, double> share = printShares(programs, median, samples);
    bool met = true;
    bool limited = share.count("fallback") != 0;
    double fallback = limited ? share["fallback"] : 0;
    if (limited && fallbackTarget) {
        met = fallback <= 1.0;
        std::printf("TARGET %-58s %10.3f ms (<= 1.000 ms): %s\n",
                    "launcher overhead, fallback road", fallback, met ? "met" : "MISSED");
    }
    met = printComparisons(programs, median, samples, share, limited, fallback + 2.0) && met;
    if (!ratios.empty() || !extras.empty()) {
        std::printf("\nratios and differences of the medians:\n");
    }
    met = printRatios(ratios, median) && met;
    printExtras(extras, median);
    met = printScriptComparisons(programs, median, samples) && met;
    return met ? 0 : 3;
}
