// Running the tools a package is made with (dpkg-deb, rpmbuild, tar,
// jlink, python3 ...): without a shell, standard input on /dev/null, their
// output captured.
#ifndef PACK_RUN_COMMAND_H
#define PACK_RUN_COMMAND_H

#include <functional>
#include <string>
#include <vector>

// How a command ran.
struct CommandResult {
    bool started = false;  // false: it could not be started (output says why)
    int exitCode = -1;     // its exit status, when it exited
    int signal = 0;        // the signal that ended it, when one did
    std::string output;    // its standard output and error together
};

// Runs argv[0] (found on PATH when it has no slash) with the arguments
// argv[1..], in `directory` ("" for the current one), with the
// environment of this process plus `environment` ("NAME=VALUE" entries,
// which replace variables of the same name; a bare "NAME" removes that
// variable). Waits for it and returns how it ran. Interrupting the pack
// (SIGINT, SIGTERM) kills it.
CommandResult runCommand(const std::vector<std::string> &argv,
                         const std::vector<std::string> &environment = {},
                         const std::string &directory = "");

// runCommand with `prepare` run in the child first (after its standard
// streams are set, before it enters `directory`): it returns 0, or an
// errno value with which the start fails (the result then says it could
// not be started, with that error's text). It runs in the forked child of
// this single-threaded program: it may change that process (its
// namespaces, its personality) and must not return to the caller's code.
CommandResult runPreparedCommand(const std::vector<std::string> &argv,
                                 const std::vector<std::string> &environment,
                                 const std::string &directory,
                                 const std::function<int()> &prepare);

// Whether the command ran and exited with status 0.
bool succeeded(const CommandResult &result);

// "<program> exited with status N" / "... was killed by signal N" /
// "... could not be started: <reason>", and the last lines of its output,
// for an error message.
std::string describeFailure(const std::vector<std::string> &argv, const CommandResult &result);

// Whether `program` is found on PATH (or, with a slash, is executable).
bool commandExists(const std::string &program);

// The path of `program` as commandExists finds it: itself when it has a
// slash, else the first executable regular file of that name on PATH;
// "" when there is none.
std::string findCommand(const std::string &program);

#endif
