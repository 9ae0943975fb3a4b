// Configuration files, environment and trace held in memory, for the
// tests and the fuzz target of the reference library's configuration.
#ifndef MEMORY_CONFIG_SOURCE_H
#define MEMORY_CONFIG_SOURCE_H

#include <fnmatch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "config_source.h"

// Files by absolute path, matched as glob would match them; a runtime path
// exists when it is one of the files, or always while anyRuntimeExists.
struct MemoryConfig {
    using Texts = std::map<std::string, std::string>;
    Texts files;
    Texts env;
    bool anyRuntimeExists = true;
    std::vector<std::string> trace;  // "read PATH", "no match PATTERN"

    explicit MemoryConfig(Texts files = {}, Texts env = {})
        : files(std::move(files)), env(std::move(env)) {}

    ConfigSource source() { return {this, readFile, match, release, isFile, variable, note}; }

  private:
    static MemoryConfig *of(void *context) { return (MemoryConfig *)context; }

    static bool refuse(char *reason, const char *text) {
        snprintf(reason, configReasonSize, "%s", text);
        return false;
    }

    static bool readFile(void *context, const char *path, ConfigFileText *text, char *reason) {
        auto found = of(context)->files.find(path);
        if (found == of(context)->files.end()) {
            return refuse(reason, "No such file or directory");
        }
        char *bytes = (char *)malloc(found->second.size() + 1);
        if (bytes == nullptr) {
            return refuse(reason, "out of memory");
        }
        memcpy(bytes, found->second.data(), found->second.size());
        uint64_t inode = (uint64_t)std::distance(of(context)->files.begin(), found);
        *text = ConfigFileText{bytes, found->second.size(), 1, inode};
        return true;
    }

    static bool match(void *context, const char *pattern, ConfigMatches *matches, char *reason) {
        char **paths = (char **)malloc((of(context)->files.size() + 1) * sizeof(char *));
        if (paths == nullptr) {
            return refuse(reason, "out of memory");
        }
        *matches = ConfigMatches{0, paths, paths};
        for (auto &[path, text] : of(context)->files) {
            if (fnmatch(pattern, path.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0) {
                paths[matches->count++] = (char *)path.c_str();
            }
        }
        return true;
    }

    static void release(void *, ConfigMatches *matches) { free(matches->owner); }

    static bool isFile(void *context, const char *path, char *reason) {
        std::string missing = std::string(path) + ": No such file or directory";
        return of(context)->anyRuntimeExists || of(context)->files.count(path) != 0 ||
               refuse(reason, missing.c_str());
    }

    static const char *variable(void *context, const char *name) {
        auto found = of(context)->env.find(name);
        return found == of(context)->env.end() ? nullptr : found->second.c_str();
    }

    static void note(void *context, const char *event, const char *path) {
        of(context)->trace.push_back(std::string(event) + " " + path);
    }
};

#endif
