#include "launch_config.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char appDirToken[] = "$APPDIR";

// Records the reason for refusing line `line` (0: the whole file); false.
static bool refuse(ConfigError *error, int32_t line, const char *reason) {
    error->line = line;
    (void)snprintf(error->reason, sizeof error->reason, "%s", reason);
    return false;
}

// Returns a heap copy of value[0..length) with every "$APPDIR" replaced by
// appDir; null when memory runs out.
static char *expandValue(const char *value, size_t length, const char *appDir) {
    size_t tokenLength = sizeof appDirToken - 1;
    size_t appDirLength = strlen(appDir);
    size_t tokens = 0;
    for (size_t i = 0; i + tokenLength <= length; i++) {
        if (memcmp(value + i, appDirToken, tokenLength) == 0) {
            tokens++;
            i += tokenLength - 1;
        }
    }
    char *expanded = (char *)malloc(length - tokens * tokenLength + tokens * appDirLength + 1);
    if (expanded == NULL) {
        return NULL;
    }
    char *out = expanded;
    for (size_t i = 0; i < length;) {
        if (i + tokenLength <= length && memcmp(value + i, appDirToken, tokenLength) == 0) {
            memcpy(out, appDir, appDirLength);
            out += appDirLength;
            i += tokenLength;
        } else {
            *out++ = value[i++];
        }
    }
    *out = '\0';
    return expanded;
}

// Makes room in *items, which holds `count` entries, for one more. False
// when memory runs out or the count would pass what 32 bits hold.
static bool reserveSlot(char ***items, int32_t count) {
    if (count == INT32_MAX) {
        return false;
    }
    if (count != 0 && (count < 4 || (count & (count - 1)) != 0)) {
        return true;
    }
    size_t capacity = count == 0 ? 4 : (size_t)count * 2;
    char **grown = (char **)realloc(*items, capacity * sizeof *grown);
    if (grown == NULL) {
        return false;
    }
    *items = grown;
    return true;
}

// Returns the runtime path value[0..length) expanded, with configDir and a
// slash in front when it is relative; null when memory runs out.
static char *runtimePath(const char *value, size_t length, const char *configDir,
                         const char *appDir) {
    char *path = expandValue(value, length, appDir);
    if (path == NULL || path[0] == '/') {
        return path;
    }
    size_t size = strlen(configDir) + 1 + strlen(path) + 1;
    char *joined = (char *)malloc(size);
    if (joined != NULL) {
        (void)snprintf(joined, size, "%s/%s", configDir, path);
    }
    free(path);
    return joined;
}

// Whether key[0..length) is `name`.
static bool keyIs(const char *key, size_t length, const char *name) {
    return strlen(name) == length && memcmp(key, name, length) == 0;
}

static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Adds one "NAME=VALUE" variable from value[0..length) to *config.
static bool addVariable(LaunchConfig *config, const char *value, size_t length,
                        const char *appDir, int32_t lineNumber, ConfigError *error) {
    const char *equals = (const char *)memchr(value, '=', length);
    if (equals == NULL || equals == value) {
        return refuse(error, lineNumber, "env= needs NAME=VALUE");
    }
    size_t nameLength = (size_t)(equals - value);
    int32_t n = config->envCount;
    if (!reserveSlot(&config->envNames, n) || !reserveSlot(&config->envValues, n)) {
        return refuse(error, lineNumber, "out of memory");
    }
    char *name = (char *)malloc(nameLength + 1);
    char *expanded = expandValue(equals + 1, length - nameLength - 1, appDir);
    if (name == NULL || expanded == NULL) {
        free(name);
        free(expanded);
        return refuse(error, lineNumber, "out of memory");
    }
    memcpy(name, value, nameLength);
    name[nameLength] = '\0';
    config->envNames[n] = name;
    config->envValues[n] = expanded;
    config->envCount = n + 1;
    return true;
}

// Applies the line line[0..length) numbered lineNumber to *config.
static bool applyLine(LaunchConfig *config, const char *line, size_t length,
                      const char *configDir, const char *appDir, int32_t lineNumber,
                      ConfigError *error) {
    if (length > 0 && line[length - 1] == '\r') {
        length--;
    }
    if (memchr(line, '\0', length) != NULL) {
        return refuse(error, lineNumber, "line holds a NUL byte");
    }
    size_t start = 0;
    while (start < length && isBlank(line[start])) {
        start++;
    }
    if (start == length || line[start] == '#') {
        return true;
    }
    const char *equals = (const char *)memchr(line + start, '=', length - start);
    if (equals == NULL) {
        return refuse(error, lineNumber, "line has no '='");
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
        if (config->runtime != NULL) {
            return refuse(error, lineNumber, "runtime= given twice");
        }
        if (valueLength == 0) {
            return refuse(error, lineNumber, "runtime= is empty");
        }
        config->runtime = runtimePath(value, valueLength, configDir, appDir);
        return config->runtime != NULL || refuse(error, lineNumber, "out of memory");
    }
    if (keyIs(key, keyLength, "arg")) {
        char *arg = NULL;
        if (!reserveSlot(&config->args, config->argCount) ||
            (arg = expandValue(value, valueLength, appDir)) == NULL) {
            return refuse(error, lineNumber, "out of memory");
        }
        config->args[config->argCount++] = arg;
        return true;
    }
    if (keyIs(key, keyLength, "env")) {
        return addVariable(config, value, valueLength, appDir, lineNumber, error);
    }
    char reason[sizeof error->reason];
    (void)snprintf(reason, sizeof reason, "unknown key \"%.*s\"", (int)(keyLength > 64 ? 64 : keyLength),
             key);
    return refuse(error, lineNumber, reason);
}

bool parseLaunchConfig(const char *text, size_t length, const char *configDir,
                       const char *appDir, LaunchConfig *config, ConfigError *error) {
    memset(config, 0, sizeof *config);
    bool parsed = true;
    int32_t lineNumber = 0;
    size_t start = 0;
    while (parsed && start < length) {
        const char *newline = (const char *)memchr(text + start, '\n', length - start);
        size_t end = newline != NULL ? (size_t)(newline - text) : length;
        if (lineNumber == INT32_MAX) {
            parsed = refuse(error, 0, "too many lines");
            break;
        }
        lineNumber++;
        parsed = applyLine(config, text + start, end - start, configDir, appDir, lineNumber,
                           error);
        start = end + 1;
    }
    if (parsed && config->runtime == NULL) {
        parsed = refuse(error, 0, "no runtime= line");
    }
    if (!parsed) {
        freeLaunchConfig(config);
    }
    return parsed;
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
