#include "launch_config.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kivlauncher_api.h>

#include "config_expand.h"
#include "config_words.h"

enum { maxIncludeDepth = 16, maxFilesRead = 1024 };

// Bytes the block may hold: what a 32-bit size can say.
static const uint64_t launchDataLimit = INT32_MAX;

static const char blockLimitReason[] = "value expands past the 2 GiB launch data limit";
static const char configLimitReason[] =
    "value expands past the 6 MiB limit of the configuration's launch data";
static const char valueLimitReason[] = "value longer than 131072 bytes";

// A configuration file being read, and the chain of files that include it.
struct ConfigFile {
    const char *path;
    char *dir;
    int32_t line;
    int depth;
    uint64_t device;
    uint64_t inode;
    const ConfigFile *includer;
};

// The state of one loadLaunchConfig: what has been read into `config`, the
// room its arrays have, and the reason for refusing the line being applied.
struct Parser {
    const ConfigSource *source;
    const char *appDir;
    LaunchConfig *config;
    int32_t argCapacity;       // entries config->args has room for
    int32_t envNameCapacity;   // entries config->envNames has room for
    int32_t envValueCapacity;  // entries config->envValues has room for
    ConfigError *error;
    bool errorRecorded;
    uint64_t budget;        // bytes of launch data left within 2 GiB
    uint64_t configBudget;  // bytes left within maxConfigDataBytes
    int filesRead;
    char *runtimeFile;
    int32_t runtimeLine;
    TextBuffer value;
    TextBuffer word;
    TextBuffer path;
    char reason[configReasonSize];
    const char *plainReason;  // p->reason without its quoted text; null: it quotes nothing
};

// Writes the reason for refusing the line being applied into p->reason and
// returns false, for the refusing caller to return.
__attribute__((format(printf, 2, 3))) static bool fail(Parser *p, const char *format, ...) {
    va_list args;
    va_start(args, format);
    (void)vsnprintf(p->reason, sizeof p->reason, format, args);
    va_end(args);
    p->plainReason = nullptr;
    return false;
}

// As fail, for a reason that quotes the configuration: `plain` (a
// constant) says the same without the quoted text.
__attribute__((format(printf, 3, 4))) static bool failQuoting(Parser *p, const char *plain,
                                                              const char *format, ...) {
    va_list args;
    va_start(args, format);
    (void)vsnprintf(p->reason, sizeof p->reason, format, args);
    va_end(args);
    p->plainReason = plain;
    return false;
}

// Records p->reason (and its plain form) as the error, found in `file` at
// `line`.
static void recordError(Parser *p, const char *file, int32_t line) {
    (void)snprintf(p->error->file, sizeof p->error->file, "%s", file);
    p->error->line = line;
    memcpy(p->error->reason, p->reason, sizeof p->reason);
    (void)snprintf(p->error->plainReason, sizeof p->error->plainReason, "%s",
                   p->plainReason != nullptr ? p->plainReason : p->reason);
    p->errorRecorded = true;
}

// Whether c is a blank or a tab.
static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Whether key[0..length) is `name`.
static bool keyIs(const char *key, size_t length, const char *name) {
    return strlen(name) == length && memcmp(key, name, length) == 0;
}

// Letters, digits and '_', not starting with a digit.
static bool isVariableName(const char *name, size_t length) {
    for (size_t i = 0; i < length; i++) {
        char c = name[i];
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!letter && (i == 0 || c < '0' || c > '9')) {
            return false;
        }
    }
    return length > 0;
}

// Makes room in *items, which holds `count` entries and has room for
// *capacity, for one more: when it is full its room doubles (4 entries
// first). False when memory runs out or the count would pass what 32 bits
// hold.
static bool makeRoom(char ***items, int32_t count, int32_t *capacity) {
    if (count < *capacity) {
        return true;
    }
    if (count == INT32_MAX) {
        return false;
    }
    int32_t grown = 4;
    if (count >= 4) {
        grown = count <= INT32_MAX / 2 ? count * 2 : INT32_MAX;
    }
    char **larger = (char **)realloc(*items, (size_t)grown * sizeof *larger);
    if (larger == nullptr) {
        return false;
    }
    *items = larger;
    *capacity = grown;
    return true;
}

// Takes `bytes` of the launch data's allowances: the whole block's 2 GiB
// and the configuration's maxConfigDataBytes.
static bool charge(Parser *p, uint64_t bytes) {
    if (bytes > p->budget) {
        return fail(p, "launch data larger than 2 GiB");
    }
    if (bytes > p->configBudget) {
        return fail(p, "the configuration's launch data larger than 6 MiB");
    }
    p->budget -= bytes;
    p->configBudget -= bytes;
    return true;
}

// Expands value[0..length) of a line of `file` into p->value, which may
// hold at most `valueLimit` bytes and what is left of the launch data's
// allowances, so that a runaway expansion stops at the first limit it
// passes, with that limit's reason.
static bool expand(Parser *p, const ConfigFile *file, const char *value, size_t length,
                   bool forPattern, size_t valueLimit) {
    Expansion how = {p->source, p->appDir, file->dir, forPattern, valueLimit, valueLimitReason,
                     &p->plainReason};
    if (p->configBudget < how.limit) {
        how.limit = (size_t)p->configBudget;
        how.limitReason = configLimitReason;
    }
    if (p->budget < how.limit) {
        how.limit = (size_t)p->budget;
        how.limitReason = blockLimitReason;
    }
    p->plainReason = nullptr;
    clearText(&p->value);
    return expandValue(&how, value, length, &p->value, p->reason);
}

// Refuses a path value that is empty or has blanks around it.
static bool checkPathValue(Parser *p, const char *key, const char *value, size_t length) {
    if (length == 0) {
        return fail(p, "%s= is empty", key);
    }
    if (isBlank(value[0]) || isBlank(value[length - 1])) {
        return fail(p, "%s= path %s with a blank", key, isBlank(value[0]) ? "starts" : "ends");
    }
    return true;
}

// Appends `dir` (its glob characters quoted when forPattern) and a slash
// to p->path, unless `path` is absolute, then `path`. False when memory
// runs out.
static bool appendAnchored(Parser *p, const char *dir, const TextBuffer *path, bool forPattern) {
    if (path->bytes[0] != '/') {
        for (const char *c = dir; *c != '\0'; c++) {
            bool quoted = forPattern && strchr("*?[\\", *c) != nullptr;
            if (quoted && !appendText(&p->path, "\\", 1)) {
                return false;
            }
            if (!appendText(&p->path, c, 1)) {
                return false;
            }
        }
        bool slashNeeded = dir[0] == '\0' || dir[strlen(dir) - 1] != '/';
        if (slashNeeded && !appendText(&p->path, "/", 1)) {
            return false;
        }
    }
    return appendText(&p->path, path->bytes, path->length);
}

// Sets p->path to `dir`, a slash, and `path` (quoted as a pattern when
// forPattern), or to `path` alone when it is absolute.
static bool anchorPath(Parser *p, const char *dir, const TextBuffer *path, bool forPattern) {
    clearText(&p->path);
    if (!appendAnchored(p, dir, path, forPattern)) {
        return fail(p, "out of memory");
    }
    return true;
}

// Sets the runtime from a runtime= value: once, without blanks around the
// path, expanded and anchored at the file's directory.
static bool setRuntime(Parser *p, const ConfigFile *file, const char *value, size_t length) {
    if (p->runtimeFile != nullptr) {
        return failQuoting(p, "runtime= given twice", "runtime= given twice (first in %s:%d)",
                           p->runtimeFile, p->runtimeLine);
    }
    if (!checkPathValue(p, "runtime", value, length) ||
        !expand(p, file, value, length, false, maxValueBytes)) {
        return false;
    }
    if (p->value.length == 0) {
        return fail(p, "runtime= expands to an empty path");
    }
    if (!anchorPath(p, file->dir, &p->value, false) || !charge(p, p->path.length + 1)) {
        return false;
    }
    p->config->runtime = copyBytes(p->path.bytes, p->path.length);
    p->runtimeFile = copyBytes(file->path, strlen(file->path));
    p->runtimeLine = file->line;
    if (p->config->runtime == nullptr || p->runtimeFile == nullptr) {
        return fail(p, "out of memory");
    }
    return true;
}

// Appends a copy of text[0..length) to the arguments: at most
// maxValueBytes.
static bool addArgument(Parser *p, const char *text, size_t length) {
    LaunchConfig *config = p->config;
    if (length > maxValueBytes) {
        return fail(p, "%s", valueLimitReason);
    }
    if (!charge(p, length + 1 + sizeof(char *))) {
        return false;
    }
    if (!makeRoom(&config->args, config->argCount, &p->argCapacity)) {
        return fail(p, "out of memory");
    }
    char *arg = copyBytes(text, length);
    if (arg == nullptr) {
        return fail(p, "out of memory");
    }
    config->args[config->argCount] = arg;
    config->argCount++;
    return true;
}

// Adds each word of args= as an argument.
static bool addWord(void *state, const TextBuffer *word, char *) {
    return addArgument((Parser *)state, word->bytes, word->length);
}

// Adds one "NAME=VALUE" variable from value[0..length), at most
// maxValueBytes as NAME=VALUE once expanded.
static bool addVariable(Parser *p, const ConfigFile *file, const char *value, size_t length) {
    const char *equals = (const char *)memchr(value, '=', length);
    if (equals == nullptr || equals == value) {
        return fail(p, "env= needs NAME=VALUE");
    }
    size_t nameLength = (size_t)(equals - value);
    if (!isVariableName(value, nameLength)) {
        return failQuoting(p,
                           "env= name is not a variable name (letters, digits and _, not "
                           "starting with a digit)",
                           "env= name \"%.*s\" is not a variable name (letters, digits and _, not "
                           "starting with a digit)",
                           (int)(nameLength > 64 ? 64 : nameLength), value);
    }
    if (nameLength >= maxValueBytes) {
        return fail(p, "%s", valueLimitReason);
    }
    if (!expand(p, file, equals + 1, length - nameLength - 1, false,
                maxValueBytes - nameLength - 1) ||
        !charge(p, nameLength + p->value.length + 2 + 2 * sizeof(char *))) {
        return false;
    }
    LaunchConfig *config = p->config;
    int32_t n = config->envCount;
    if (!makeRoom(&config->envNames, n, &p->envNameCapacity) ||
        !makeRoom(&config->envValues, n, &p->envValueCapacity)) {
        return fail(p, "out of memory");
    }
    char *name = copyBytes(value, nameLength);
    char *expanded = copyBytes(p->value.bytes, p->value.length);
    if (name == nullptr || expanded == nullptr) {
        free(name);
        free(expanded);
        return fail(p, "out of memory");
    }
    config->envNames[n] = name;
    config->envValues[n] = expanded;
    config->envCount = n + 1;
    return true;
}

static bool readAndParse(Parser *p, const char *path, const ConfigFile *includer);

// Reads the files an include= or include-optional= value names.
// NOLINTNEXTLINE(misc-no-recursion): includes nest at most maxIncludeDepth deep
static bool includeFiles(Parser *p, const ConfigFile *file, const char *value, size_t length,
                         bool optional) {
    const char *key = optional ? "include-optional" : "include";
    if (!checkPathValue(p, key, value, length) ||
        !expand(p, file, value, length, true, maxValueBytes)) {
        return false;
    }
    ConfigMatches matches = {0, nullptr, nullptr};
    clearText(&p->path);
    bool searched = p->value.length > 0;
    if (searched && (!anchorPath(p, file->dir, &p->value, true) ||
                     !p->source->match(p->source->context, p->path.bytes, &matches, p->reason))) {
        return false;
    }
    bool included = true;
    if (matches.count == 0) {
        if (!optional) {
            included = failQuoting(p, "include= matched nothing", "include= matched nothing: %s",
                                   textOf(&p->path));
        } else if (p->source->trace != nullptr) {
            p->source->trace(p->source->context, "no match", textOf(&p->path));
        }
    } else if (file->depth == maxIncludeDepth) {
        included = fail(p, "includes nested deeper than %d", maxIncludeDepth);
    }
    for (size_t i = 0; included && i < matches.count; i++) {
        if (p->filesRead >= maxFilesRead) {
            included = fail(p, "more than %d configuration files", maxFilesRead);
        } else {
            included = readAndParse(p, matches.paths[i], file);
        }
    }
    if (searched) {
        p->source->releaseMatches(p->source->context, &matches);
    }
    return included;
}

// Applies the line line[0..length) of `file`.
// NOLINTNEXTLINE(misc-no-recursion): includes nest at most maxIncludeDepth deep
static bool applyLine(Parser *p, const ConfigFile *file, const char *line, size_t length) {
    if (length > 0 && line[length - 1] == '\r') {
        length--;
    }
    if (memchr(line, '\0', length) != nullptr) {
        return fail(p, "line holds a NUL byte");
    }
    size_t start = 0;
    while (start < length && isBlank(line[start])) {
        start++;
    }
    if (start == length || line[start] == '#') {
        return true;
    }
    const char *equals = (const char *)memchr(line + start, '=', length - start);
    if (equals == nullptr) {
        return fail(p, "line has no '='");
    }
    size_t keyEnd = (size_t)(equals - line);
    while (keyEnd > start && isBlank(line[keyEnd - 1])) {
        keyEnd--;
    }
    const char *key = line + start;
    size_t keyLength = keyEnd - start;
    const char *value = equals + 1;
    size_t valueLength = length - (size_t)(value - line);
    if (keyIs(key, keyLength, "runtime")) {
        return setRuntime(p, file, value, valueLength);
    }
    if (keyIs(key, keyLength, "arg")) {
        if (!expand(p, file, value, valueLength, false, maxValueBytes)) {
            return false;
        }
        return addArgument(p, p->value.bytes, p->value.length);
    }
    if (keyIs(key, keyLength, "args")) {
        if (!expand(p, file, value, valueLength, false, SIZE_MAX)) {
            return false;
        }
        return splitWords(p->value.bytes, p->value.length, &p->word, addWord, p, p->reason);
    }
    if (keyIs(key, keyLength, "env")) {
        return addVariable(p, file, value, valueLength);
    }
    if (keyIs(key, keyLength, "include")) {
        return includeFiles(p, file, value, valueLength, false);
    }
    if (keyIs(key, keyLength, "include-optional")) {
        return includeFiles(p, file, value, valueLength, true);
    }
    return failQuoting(p, "unknown key", "unknown key \"%.*s\"",
                       (int)(keyLength > 64 ? 64 : keyLength), key);
}

// Applies every line of text[0..length), a byte-order mark skipped.
// NOLINTNEXTLINE(misc-no-recursion): includes nest at most maxIncludeDepth deep
static bool parseText(Parser *p, ConfigFile *file, const char *text, size_t length) {
    size_t start = length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (start < length) {
        const char *newline = (const char *)memchr(text + start, '\n', length - start);
        size_t end = newline != nullptr ? (size_t)(newline - text) : length;
        if (file->line == INT32_MAX) {
            fail(p, "too many lines");
            recordError(p, file->path, 0);
            return false;
        }
        file->line++;
        if (!applyLine(p, file, text + start, end - start)) {
            if (!p->errorRecorded) {
                recordError(p, file->path, file->line);
            }
            return false;
        }
        start = end + 1;
    }
    return true;
}

// A heap copy of the directory part of `path` ("/" for the root, "." for
// a bare name); null when memory runs out.
static char *directoryOf(const char *path) {
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) {
        return copyBytes(".", 1);
    }
    return copyBytes(path, slash == path ? 1 : (size_t)(slash - path));
}

// Reads and applies the file at `path`, included by `includer` (null for
// the first file). False with the error recorded, or (for an include
// cycle) with the reason left for the includer's line.
// NOLINTNEXTLINE(misc-no-recursion): includes nest at most maxIncludeDepth deep
static bool readAndParse(Parser *p, const char *path, const ConfigFile *includer) {
    ConfigFileText text;
    if (!p->source->readFile(p->source->context, path, &text, p->reason)) {
        p->plainReason = nullptr;
        recordError(p, path, 0);
        return false;
    }
    p->filesRead++;
    for (const ConfigFile *open = includer; open != nullptr; open = open->includer) {
        if (open->device == text.device && open->inode == text.inode) {
            free(text.bytes);
            return failQuoting(p, "include cycle", "include cycle: %s is already being read",
                               path);
        }
    }
    if (p->source->trace != nullptr) {
        p->source->trace(p->source->context, "read", path);
    }
    int depth = includer != nullptr ? includer->depth + 1 : 0;
    ConfigFile file = {path, directoryOf(path), 0, depth, text.device, text.inode, includer};
    bool parsed = false;
    if (file.dir == nullptr) {
        fail(p, "out of memory");
        recordError(p, path, 0);
    } else {
        parsed = parseText(p, &file, text.bytes, text.length);
    }
    free(file.dir);
    free(text.bytes);
    return parsed;
}

// A variable's name and its place among the env= entries.
struct NamedIndex {
    const char *name;
    int32_t index;
};

// Orders NamedIndex entries by name, then by their place.
static int byNameThenIndex(const void *left, const void *right) {
    const NamedIndex *a = (const NamedIndex *)left;
    const NamedIndex *b = (const NamedIndex *)right;
    int order = strcmp(a->name, b->name);
    return order != 0 ? order : (a->index > b->index) - (a->index < b->index);
}

// Keeps one entry per variable name: at the place of its first env=, with
// the value of its last. False when memory runs out.
static bool mergeRepeatedVariables(LaunchConfig *config) {
    int32_t count = config->envCount;
    if (count < 2) {
        return true;
    }
    NamedIndex *order = (NamedIndex *)malloc((size_t)count * sizeof *order);
    if (order == nullptr) {
        return false;
    }
    for (int32_t i = 0; i < count; i++) {
        order[i] = NamedIndex{config->envNames[i], i};
    }
    qsort(order, (size_t)count, sizeof *order, byNameThenIndex);
    int32_t group = 0;
    while (group < count) {
        int32_t next = group + 1;
        while (next < count && strcmp(order[next].name, order[group].name) == 0) {
            next++;
        }
        int32_t first = order[group].index;
        int32_t last = order[next - 1].index;
        if (first != last) {
            free(config->envValues[first]);
            config->envValues[first] = config->envValues[last];
            config->envValues[last] = nullptr;
        }
        for (int32_t k = group + 1; k < next; k++) {
            int32_t repeated = order[k].index;
            free(config->envNames[repeated]);
            free(config->envValues[repeated]);
            config->envNames[repeated] = nullptr;
        }
        group = next;
    }
    free(order);
    int32_t kept = 0;
    for (int32_t i = 0; i < count; i++) {
        if (config->envNames[i] != nullptr) {
            config->envNames[kept] = config->envNames[i];
            config->envValues[kept] = config->envValues[i];
            kept++;
        }
    }
    config->envCount = kept;
    return true;
}

bool loadLaunchConfig(const ConfigSource *source, const char *path, const char *appDir,
                      uint64_t reservedBytes, LaunchConfig *config, ConfigError *error) {
    memset(config, 0, sizeof *config);
    error->file[0] = '\0';
    error->line = 0;
    error->reason[0] = '\0';
    error->plainReason[0] = '\0';
    uint64_t fixed = sizeof(KivlLauncherData) + sizeof(char *);
    Parser p = {};
    p.source = source;
    p.appDir = appDir;
    p.config = config;
    p.error = error;
    p.budget = reservedBytes < launchDataLimit - fixed ? launchDataLimit - fixed - reservedBytes : 0;
    p.configBudget = maxConfigDataBytes - fixed;
    bool loaded = readAndParse(&p, path, nullptr);
    if (!loaded && !p.errorRecorded) {
        recordError(&p, path, 0);
    }
    if (loaded && config->runtime == nullptr) {
        fail(&p, "no runtime= line");
        recordError(&p, path, 0);
        loaded = false;
    }
    if (loaded && !source->isFile(source->context, config->runtime, p.reason)) {
        p.plainReason = "runtime= names no regular file that can be reached";
        recordError(&p, p.runtimeFile, p.runtimeLine);
        loaded = false;
    }
    if (loaded && !mergeRepeatedVariables(config)) {
        fail(&p, "out of memory");
        recordError(&p, path, 0);
        loaded = false;
    }
    freeText(&p.value);
    freeText(&p.word);
    freeText(&p.path);
    free(p.runtimeFile);
    if (!loaded) {
        freeLaunchConfig(config);
    }
    return loaded;
}

void freeLaunchConfig(LaunchConfig *config) {
    free(config->runtime);
    for (int32_t i = 0; i < config->argCount; i++) {
        free(config->args[i]);
    }
    for (int32_t i = 0; i < config->envCount; i++) {
        free(config->envNames[i]);
        free(config->envValues[i]);
    }
    free(config->args);
    free(config->envNames);
    free(config->envValues);
    memset(config, 0, sizeof *config);
}
