// Running the tools a package is made with (dpkg-deb, rpmbuild, tar,
// jlink, python3 ...): without a shell, standard input on /dev/null, their
// output captured.
#ifndef PACK_RUN_COMMAND_H
#define PACK_RUN_COMMAND_H

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
