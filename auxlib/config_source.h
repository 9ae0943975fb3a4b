// Where the reference library's configuration comes from: its files, the
// patterns that name them, the environment and the trace. The library
// reads the file system (fileSystemSource); tests and the fuzz target
// pass files held in memory.
#ifndef CONFIG_SOURCE_H
#define CONFIG_SOURCE_H

#include <stddef.h>
#include <stdint.h>

#include "config_text.h"

// Largest configuration file, in bytes.
static const size_t maxConfigFileBytes = (size_t)1024 * 1024;

// A configuration file's text, in heap memory its reader took with malloc
// and the parser frees, and what tells the file apart from every other
// (two texts come from the same file when both words match).
struct ConfigFileText {
    char *bytes;
    size_t length;
    uint64_t device;
    uint64_t inode;
};

// The paths a pattern matched, in sorted order; `owner` is the source's.
struct ConfigMatches {
    size_t count;
    char **paths;
    void *owner;
};

// Every reason is written into reason[0..configReasonSize), without the
// path it concerns: the caller names that.
struct ConfigSource {
    void *context;
    // Reads the configuration file at `path`. False with the reason when
    // it cannot be read, is not a regular file or is larger than
    // maxConfigFileBytes.
    bool (*readFile)(void *context, const char *path, ConfigFileText *text, char *reason);
    // Finds the existing paths a glob pattern matches (a backslash quotes
    // the next character), sorted; none is not a failure. False with the
    // reason when the search itself fails. Every success is followed by
    // releaseMatches.
    bool (*match)(void *context, const char *pattern, ConfigMatches *matches, char *reason);
    void (*releaseMatches)(void *context, ConfigMatches *matches);
    // Whether `path` names a regular file, symbolic links followed; false
    // with the reason (naming the path) when not.
    bool (*isFile)(void *context, const char *path, char *reason);
    // The environment variable `name`, or null when it is unset.
    const char *(*variable)(void *context, const char *name);
    // Notes a file read ("read") or a pattern that matched nothing
    // ("no match") for the trace; null when nothing is traced.
    void (*trace)(void *context, const char *event, const char *path);
};

// The file system and the process environment; `traced` writes each
// trace event as a debug line on standard error.
const ConfigSource *fileSystemSource(bool traced);

#endif
