// Running a part of the diagnosis in a child process, as the launcher runs
// the auxiliary library in one: with a time limit, in a process group of
// its own (killed with it), its output captured, and what it reports sent
// back over pipes.
//
// A child reports on two channels besides its output: messages (the lines
// the launcher's code logs through kivLauncherLog, and the doctor's own
// events, "key=value") and data (raw bytes, such as the record frame).
#ifndef DOCTOR_CHILD_H
#define DOCTOR_CHILD_H

#include <functional>
#include <string>
#include <vector>

// How a child ran and what it sent.
struct ChildRun {
    bool started = false;  // false: fork or pipe failed (startError says why)
    std::string startError;
    bool timedOut = false; // killed at the time limit
    int exitCode = -1;     // the exit status when it exited
    int signal = 0;        // the signal that ended it, when one did
    std::vector<std::string> logLines; // the launcher code's log lines, in order
    std::vector<std::string> events;   // the doctor's own "key=value" events, in order
    std::string output;                // standard output and error together
    bool outputCut = false;            // more output came than was kept
    std::string data;                  // the bytes of the data channel
};

// Sets how many seconds a child may run before it is killed (default 10).
void setChildTimeLimit(double seconds);

// Runs `body` in a child process, with standard input on /dev/null and
// standard output and error captured; `body` gets the data channel's
// descriptor and returns the child's exit status. Waits until the child
// has ended (killing it and its process group at the time limit) and
// returns what it did. Processes it left behind in its group are killed.
ChildRun runInChild(const std::function<int(int dataFd)> &body);

// In a child: sends one message of kind 'L' (log line) or 'E' (event) to
// the parent. Returns false outside a child or when the parent is gone.
bool sendToParent(char kind, const std::string &text);

// In a child: sends the event "key=value".
void childEvent(const std::string &key, const std::string &value);

// The value of the last event `key` of `run`; `fallback` when none came.
std::string lastEvent(const ChildRun &run, const std::string &key,
                      const std::string &fallback = "");

// Whether event `key` came at all.
bool hadEvent(const ChildRun &run, const std::string &key);

// How the child ended, in words: "exited with status 3", "was killed by
// signal 11 (Segmentation fault)", "did not finish within 10 s".
std::string describeEnd(const ChildRun &run);

// Whether the child ended by itself with status 0.
bool endedCleanly(const ChildRun &run);

// The output's lines, without empty ones.
std::vector<std::string> outputLines(const ChildRun &run);

// An argument vector pointing into `texts`, null-terminated, valid while
// `texts` is unchanged.
std::vector<char *> argvOf(std::vector<std::string> &texts);

// Kills the running child's process group, for a signal handler that ends
// the doctor. Async-signal-safe.
void killRunningChild();

#endif
