// Files and directories as a pack makes them: a work directory that goes
// away whatever happens, deterministic copies, time stamps from
// SOURCE_DATE_EPOCH, and outputs that appear whole or not at all.
#ifndef PACK_FILES_H
#define PACK_FILES_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Makes a fresh directory "<parent>/.applauncher-pack-XXXXXX" (mode 0700)
// and returns its path, or "" with the reason in *error. The pack removes
// it (removeTree) before it exits, and on SIGINT, SIGTERM and SIGHUP once
// the step running then has stopped (packInterrupted).
std::string makeWorkDirectory(const std::string &parent, std::string *error);

// Installs handlers for SIGINT, SIGTERM and SIGHUP that kill the command
// running (runCommand) and note the signal for packInterrupted.
void catchInterruptions();

// The signal that interrupted the pack, or 0.
int packInterrupted();

// For runCommand: the process id of the command running now (0: none),
// which an interruption kills.
void noteRunningChild(pid_t pid);

// Removes `path` and everything below it, not following symbolic links.
// Returns whether nothing of it is left.
bool removeTree(const std::string &path);

// Makes `path` and the directories above it that are missing (mode 0755).
bool makeDirectories(const std::string &path, std::string *error);

// Writes `content` to a new file `path` with `mode`, whole: false with the
// reason in *error.
bool writeFile(const std::string &path, const std::string &content, mode_t mode,
               std::string *error);

// Reads the whole file `path` into *content; false with the reason.
bool readFile(const std::string &path, std::string *content, std::string *error);

// Copies the file `from` to `to` (created; mode 0755 when `from` may be
// run by anyone, else 0644).
bool copyFile(const std::string &from, const std::string &to, std::string *error);

// Copies the tree below directory `from` into directory `to` (made when
// missing): directories 0755, files 0644 or 0755 as copyFile gives them,
// symbolic links as links when they stay inside the tree. Anything else
// (a device, a FIFO, a link pointing out of the tree) is refused, naming
// it. False with the reason in *error.
bool copyTree(const std::string &from, const std::string &to, std::string *error);

// The names in directory `path` but "." and "..", sorted. False with the
// reason.
bool listDirectory(const std::string &path, std::vector<std::string> *names,
                   std::string *error);

// copyTree for a tree the pack made itself (the staged tree): every
// symbolic link is copied as it is, wherever it points (a private Python
// environment's interpreter links name the system's interpreter).
bool copyMadeTree(const std::string &from, const std::string &to, std::string *error);

// Sets the modification time of `root` and everything below it (links
// themselves) to `epoch`. False with the reason.
bool stampTree(const std::string &root, int64_t epoch, std::string *error);

// Puts the finished output `made` (a file or a directory beside `final`,
// on the same file system) in the place of `final`, replacing what was
// there only once `made` is in place. False with the reason.
bool publishOutput(const std::string &made, const std::string &final, std::string *error);

// Whether `path` is an existing directory / regular file.
bool isDirectory(const std::string &path);
bool isRegularFile(const std::string &path);

// `path` made absolute against the working directory, without "." parts.
std::string absolutePath(const std::string &path);

#endif
