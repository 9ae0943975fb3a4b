// Times whole programs from start to exit, interleaved so that every
// program sees the same machine: each round runs every command once, in
// an order shuffled afresh for every round, so that no program always
// follows the same other one. Prints each command's median,
// quartiles and minimum, then the launcher's own overhead where the
// commands it needs were given:
//   fallback - (fallback_commands - noop) - floor
//   owned    - (owned_commands    - noop) - floor
//   python   - (python_commands   - noop) - python_floor
// A program that exits with a status other than 0 stops the benchmark.
//
// Usage: startup_bench RUNS NAME COMMAND [ARG...] [-- NAME COMMAND [ARG...]]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Program {
    std::string name;
    std::vector<char *> argv; // null-terminated
    std::vector<double> milliseconds;
};

double now() {
    timespec at;
    clock_gettime(CLOCK_MONOTONIC, &at);
    return (double)at.tv_sec * 1e3 + (double)at.tv_nsec / 1e6;
}

// Runs the program once with its standard streams on /dev/null. Returns
// its wall time in milliseconds, or a negative number when it could not
// start or did not exit with status 0.
double runOnce(Program &program) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; fd++) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    double start = now();
    pid_t pid;
    int failed = posix_spawn(&pid, program.argv[0], &actions, nullptr, program.argv.data(), environ);
    int status = 0;
    if (failed == 0) {
        waitpid(pid, &status, 0);
    }
    double elapsed = now() - start;
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

// The programs named on the command line from argv[2] on: groups of
// NAME COMMAND [ARG...] separated by "--". Empty when a group lacks its
// command.
std::vector<Program> parsePrograms(int argc, char **argv) {
    std::vector<Program> programs;
    bool groupStarts = true;
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--") == 0) {
            groupStarts = true;
        } else if (groupStarts) {
            programs.push_back(Program{argv[i], {}, {}});
            groupStarts = false;
        } else {
            programs.back().argv.push_back(argv[i]);
        }
    }
    for (Program &program : programs) {
        if (program.argv.empty()) {
            return {};
        }
        program.argv.push_back(nullptr);
    }
    return programs;
}

// Prints the overhead figure `name` - (`commands` - noop) - `floor` from
// the medians, when all four were measured. Returns it, or -1.
double printOverhead(const std::map<std::string, double> &median, const char *name,
                     const char *commands, const char *floor) {
    for (const char *needed : {name, commands, "noop", floor}) {
        if (median.count(needed) == 0) {
            return -1;
        }
    }
    double external = median.at(commands) - median.at("noop");
    double overhead = median.at(name) - external - median.at(floor);
    std::printf("%-8s %8.3f ms = %.3f (launcher) - %.3f (its commands: %.3f - %.3f to start a "
                "program) - %.3f (%s)\n",
                name, overhead, median.at(name), external, median.at(commands), median.at("noop"),
                median.at(floor), floor);
    return overhead;
}

} // namespace

int main(int argc, char **argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 0;
    std::vector<Program> programs = parsePrograms(argc, argv);
    if (runs < 1 || programs.empty()) {
        std::fprintf(stderr, "usage: startup_bench RUNS NAME COMMAND [ARG...] [-- NAME COMMAND "
                             "[ARG...]]...\n");
        return 2;
    }
    std::vector<size_t> order(programs.size());
    for (size_t i = 0; i < order.size(); i++) {
        order[i] = i;
    }
    std::mt19937 random(20261208);
    for (int round = 0; round < runs + 5; round++) {
        std::shuffle(order.begin(), order.end(), random);
        for (size_t i : order) {
            Program &program = programs[i];
            double elapsed = runOnce(program);
            if (elapsed < 0) {
                std::fprintf(stderr, "startup_bench: %s (%s) failed\n", program.name.c_str(),
                             program.argv[0]);
                return 1;
            }
            if (round >= 5) { // the first five rounds warm the caches
                program.milliseconds.push_back(elapsed);
            }
        }
    }
    std::map<std::string, double> median;
    std::printf("%-18s %9s %9s %9s %9s  (ms, %d runs each, interleaved)\n", "program", "median",
                "p25", "p75", "min", runs);
    for (const Program &program : programs) {
        median[program.name] = quantile(program.milliseconds, 0.5);
        std::printf("%-18s %9.3f %9.3f %9.3f %9.3f\n", program.name.c_str(), median[program.name],
                    quantile(program.milliseconds, 0.25), quantile(program.milliseconds, 0.75),
                    quantile(program.milliseconds, 0.0));
    }
    std::printf("\nlauncher's own overhead, from the medians:\n");
    double fallback = printOverhead(median, "fallback", "fallback_commands", "floor");
    printOverhead(median, "owned", "owned_commands", "floor");
    printOverhead(median, "python", "python_commands", "python_floor");
    if (fallback < 0) {
        return 0;
    }
    bool met = fallback <= 1.0;
    std::printf("TARGET %-58s %10.3f ms (<= 1.000 ms): %s\n", "launcher overhead, fallback road",
                fallback, met ? "met" : "MISSED");
    return met ? 0 : 3;
}
