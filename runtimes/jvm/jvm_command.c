/* Reading the argument vector as the java command reads its command line:
 * the words of JDK_JAVA_OPTIONS first, then options up to the main class
 * or -jar FILE, then the program's own arguments. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "jvm_command.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A growing byte string, always zero-terminated once it holds anything. */
typedef struct Text {
    char *bytes;
    size_t length;
    size_t capacity;
} Text;

/* A growing list of heap strings that it owns. */
typedef struct Words {
    char **items;
    int count;
    int capacity;
} Words;

/* An option that takes a value, as the next word or (for a long option)
 * after "=". vmName is the long name the VM takes it under as
 * "--name=value"; null for the class path options, which this library
 * handles itself. */
typedef struct ValueOption {
    const char *name;
    const char *vmName;
    const char *missing;
} ValueOption;

static const ValueOption valueOptions[] = {
    {"-cp", NULL, "a class path"},
    {"-classpath", NULL, "a class path"},
    {"--class-path", NULL, "a class path"},
    {"-p", "--module-path", "a module path"},
    {"--module-path", "--module-path", "a module path"},
    {"--upgrade-module-path", "--upgrade-module-path", "a module path"},
    {"--add-modules", "--add-modules", "modules to be specified"},
    {"--limit-modules", "--limit-modules", "modules to be specified"},
    {"--patch-module", "--patch-module", "modules to be specified"},
    {"--add-opens", "--add-opens", "modules to be specified"},
    {"--add-exports", "--add-exports", "modules to be specified"},
    {"--add-reads", "--add-reads", "modules to be specified"},
    {"--enable-native-access", "--enable-native-access", "modules to be specified"},
};

static const JvmCommand emptyCommand = {0};
static const char outOfMemory[] = "Error: out of memory reading the command line";
static const char vmNotCreated[] = "Error: Could not create the Java Virtual Machine.\n"
                                   "Error: A fatal exception has occurred. Program will exit.";

/* Writes the error line into `error` like printf, truncated to fit;
 * returns false, for the caller to pass on. */
static bool fail(char *error, const char *format, ...) __attribute__((format(printf, 2, 3)));
static bool fail(char *error, const char *format, ...) {
    char *line = NULL;
    va_list args;
    va_start(args, format);
    int length = vasprintf(&line, format, args);
    va_end(args);
    (void)snprintf(error, JVM_COMMAND_ERROR_SIZE, "%s", length < 0 ? outOfMemory : line);
    if (length >= 0) {
        free(line);
    }
    return false;
}

/* Returns a heap string formatted like printf, or null. */
static char *formatText(const char *format, ...) __attribute__((format(printf, 1, 2)));
static char *formatText(const char *format, ...) {
    char *text = NULL;
    va_list args;
    va_start(args, format);
    int length = vasprintf(&text, format, args);
    va_end(args);
    return length < 0 ? NULL : text;
}

/* Appends the first `length` bytes of `bytes`, which hold no zero byte
 * before them; false when memory runs out. */
static bool appendBytes(Text *text, const char *bytes, size_t length) {
    if (text->length + length + 1 > text->capacity) {
        size_t capacity = text->capacity * 2 + length + 16;
        char *grown = (char *)realloc(text->bytes, capacity);
        if (grown == NULL) {
            return false;
        }
        text->bytes = grown;
        text->capacity = capacity;
    }
    (void)snprintf(text->bytes + text->length, length + 1, "%.*s", (int)length, bytes);
    text->length += length;
    return true;
}

/* Appends a zero-terminated string; false when memory runs out. */
static bool appendString(Text *text, const char *string) {
    return appendBytes(text, string, strlen(string));
}

/* Takes ownership of `word` (null allowed) and appends it; false, with
 * the word freed, when it is null or memory runs out. */
static bool appendWord(Words *words, char *word) {
    if (word == NULL) {
        return false;
    }
    if (words->count == words->capacity) {
        int capacity = words->capacity * 2 + 8;
        char **grown = (char **)realloc(words->items, (size_t)capacity * sizeof(char *));
        if (grown == NULL) {
            free(word);
            return false;
        }
        words->items = grown;
        words->capacity = capacity;
    }
    words->items[words->count++] = word;
    return true;
}

/* Frees every word and the list itself, leaving it empty. */
static void freeWords(Words *words) {
    for (int i = 0; i < words->count; i++) {
        free(words->items[i]);
    }
    free(words->items);
    words->items = NULL;
    words->count = words->capacity = 0;
}

/* Whether c separates words in JDK_JAVA_OPTIONS. */
static bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

/* Reads one word of `text` from *next (not a blank) into `word`: a pair
 * of single or double quotes keeps what lies between them, blanks
 * included, and is itself dropped. Leaves *next past the word. Returns
 * false, the reason in `error`, for an unmatched quote or lack of memory. */
static bool readOptionWord(const char **next, Text *word, char *error) {
    char quote = '\0';
    const char *at = *next;
    if (!appendBytes(word, "", 0)) {
        return fail(error, "%s", outOfMemory);
    }
    for (; *at != '\0' && (quote != '\0' || !isBlank(*at)); at++) {
        if (quote == '\0' && (*at == '"' || *at == '\'')) {
            quote = *at;
        } else if (*at == quote) {
            quote = '\0';
        } else if (!appendBytes(word, at, 1)) {
            return fail(error, "%s", outOfMemory);
        }
    }
    *next = at;
    if (quote != '\0') {
        return fail(error, "Error: Unmatched quote in environment variable JDK_JAVA_OPTIONS");
    }
    return true;
}

/* Splits `text` into words at blanks, quotes grouping as readOptionWord
 * says. Returns false, the reason in `error`. */
static bool splitOptionWords(const char *text, Words *words, char *error) {
    const char *next = text;
    for (;;) {
        while (isBlank(*next)) {
            next++;
        }
        if (*next == '\0') {
            return true;
        }
        Text word = {NULL, 0, 0};
        if (!readOptionWord(&next, &word, error)) {
            free(word.bytes);
            return false;
        }
        if (!appendWord(words, word.bytes)) {
            return fail(error, "%s", outOfMemory);
        }
    }
}

/* Whether a directory entry's name ends in .jar or .JAR. */
static int isJarName(const struct dirent *entry) {
    size_t length = strlen(entry->d_name);
    return entry->d_type != DT_DIR && length > 4 &&
           (strcmp(entry->d_name + length - 4, ".jar") == 0 ||
            strcmp(entry->d_name + length - 4, ".JAR") == 0);
}

/* Orders directory entries by their names' bytes. */
static int byName(const struct dirent **a, const struct dirent **b) {
    return strcmp((*a)->d_name, (*b)->d_name);
}

/* Appends the .jar and .JAR files of directory `dir` (the first
 * `dirLength` bytes, ending in '/'; empty for the current directory) to
 * `out`, sorted by name, each preceded by ':' unless *first, which then
 * turns false. A directory that cannot be read adds nothing. False when
 * memory runs out. */
static bool appendJarsOf(Text *out, const char *dir, size_t dirLength, bool *first) {
    char *path = dirLength == 0 ? strdup(".") : strndup(dir, dirLength);
    if (path == NULL) {
        return false;
    }
    struct dirent **entries = NULL;
    int count = scandir(path, &entries, isJarName, byName);
    bool fine = true;
    for (int i = 0; i < count; i++) {
        fine = fine && (*first || appendString(out, ":")) && appendBytes(out, dir, dirLength) &&
               appendString(out, entries[i]->d_name);
        *first = false;
        free(entries[i]);
    }
    free(entries);
    free(path);
    return fine;
}

/* The class path with each entry "DIR/" followed by "*" (or "*" alone,
 * for the current directory) replaced by the jar files of DIR, sorted by
 * name, as the java command documents; such an entry drops out when DIR
 * holds none. Other entries stay as they are. Returns a heap string, or
 * null when memory runs out. */
static char *expandClassPath(const char *classPath) {
    Text out = {NULL, 0, 0};
    bool fine = appendBytes(&out, "", 0);
    const char *entry = classPath;
    bool first = true;
    while (fine) {
        const char *end = strchrnul(entry, ':');
        size_t length = (size_t)(end - entry);
        bool wildcard = (length == 1 && entry[0] == '*') ||
                        (length >= 2 && entry[length - 1] == '*' && entry[length - 2] == '/');
        if (wildcard) {
            fine = appendJarsOf(&out, entry, length - 1, &first);
        } else {
            fine = (first || appendString(&out, ":")) && appendBytes(&out, entry, length);
            first = false;
        }
        if (*end == '\0') {
            break;
        }
        entry = end + 1;
    }
    if (!fine) {
        free(out.bytes);
        return NULL;
    }
    return out.bytes;
}

/* The largest -Xss size the java command accepts: 1 GiB. */
static const unsigned long long largestStackSize = 1ULL << 30;

/* Reads an -Xss value as the java command does: a number written as in C
 * (decimal, 0x hexadecimal or 0 octal; no sign, no blank) and an optional
 * k, m, g or t (either case). Returns true with the size in *size, or
 * false, the java command's lines in `error`, for another form, a number
 * that overflows 64 bits, or a size above 1 GiB. */
static bool readStackSize(const char *option, size_t *size, char *error) {
    static const char units[] = "kKmMgGtT";
    const char *value = option + 4;
    char *end = NULL;
    unsigned long long number = 0;
    unsigned long long unit = 1;
    bool fine = *value >= '0' && *value <= '9';
    if (fine) {
        errno = 0;
        number = strtoull(value, &end, 0);
        fine = errno == 0;
    }
    const char *unitAt = fine ? strchr(units, *end) : NULL;
    if (fine && *end != '\0') {
        fine = unitAt != NULL && end[1] == '\0';
        unit = fine ? 1ULL << (10 * (1 + (unitAt - units) / 2)) : 1;
    }
    if (fine && number > ULLONG_MAX / unit) {
        fine = false;
    }
    if (!fine) {
        return fail(error, "Invalid thread stack size: %s\n%s", option, vmNotCreated);
    }
    if (number * unit > largestStackSize) {
        return fail(error, "Invalid thread stack size: %s\nThe specified size exceeds the maximum "
                           "representable size.\n%s", option, vmNotCreated);
    }
    *size = (size_t)(number * unit);
    return true;
}

/* The entry of valueOptions that `word` names, bare or as "--name=value"
 * (then *inlineValue points past the '='), or null. */
static const ValueOption *findValueOption(const char *word, const char **inlineValue) {
    *inlineValue = NULL;
    for (size_t i = 0; i < sizeof valueOptions / sizeof valueOptions[0]; i++) {
        const char *name = valueOptions[i].name;
        size_t length = strlen(name);
        if (strncmp(word, name, length) != 0) {
            continue;
        }
        if (word[length] == '\0') {
            return &valueOptions[i];
        }
        if (word[length] == '=' && name[1] == '-') {
            *inlineValue = word + length + 1;
            return &valueOptions[i];
        }
    }
    return NULL;
}

/* The words of the launch: the environment's first, then args[1..]. */
typedef struct Vector {
    const char **words;
    int count;
    int environmentCount;
} Vector;

/* What the option part of the vector said. */
typedef struct Reading {
    Words options;
    const char *classPath;
    int next;  /* the index of the first word past the options */
} Reading;

/* Whether `word` is -m or --module, bare or with "=value". */
static bool namesMainModule(const char *word) {
    return strcmp(word, "-m") == 0 || strcmp(word, "--module") == 0 ||
           strncmp(word, "--module=", 9) == 0;
}

/* Reads the options of `vector` into `reading` up to the main class (left
 * at reading->next) or to -jar FILE (stored in command->jarFile). -server
 * and -client, which the java command accepts and ignores, are dropped.
 * Returns false, the reason in `error`. */
static bool readOptions(const Vector *vector, Reading *reading, JvmCommand *command,
                        char *error) {
    int i = 0;
    for (; i < vector->count; i++) {
        const char *word = vector->words[i];
        bool fromEnvironment = i < vector->environmentCount;
        const char *value = NULL;
        const ValueOption *option = findValueOption(word, &value);
        if (word[0] == '@') {
            return fail(error, "Error: argument files are not supported: %s", word);
        }
        if (word[0] != '-') {
            if (fromEnvironment) {
                return fail(error, "Error: Cannot specify main class in environment variable "
                                   "JDK_JAVA_OPTIONS");
            }
            break;
        }
        if (strcmp(word, "-jar") == 0) {
            if (fromEnvironment) {
                return fail(error, "Error: Option -jar is not allowed in environment variable "
                                   "JDK_JAVA_OPTIONS");
            }
            if (i + 1 >= vector->count) {
                return fail(error, "Error: -jar requires a jar file");
            }
            command->jarFile = vector->words[i + 1];
            i += 2;
            break;
        }
        if (namesMainModule(word)) {
            return fail(error, "Error: %s is not supported here: name the main class, with "
                               "--module-path and --add-modules for a class in a module", word);
        }
        if (option != NULL) {
            if (value == NULL) {
                if (i + 1 >= vector->count) {
                    return fail(error, "Error: %s requires %s", word, option->missing);
                }
                value = vector->words[++i];
            }
            if (option->vmName == NULL) {
                reading->classPath = value;
            } else if (!appendWord(&reading->options,
                                   formatText("%s=%s", option->vmName, value))) {
                return fail(error, "%s", outOfMemory);
            }
            continue;
        }
        if (strcmp(word, "-server") == 0 || strcmp(word, "-client") == 0) {
            continue;
        }
        if (strncmp(word, "-Xss", 4) == 0 && !readStackSize(word, &command->stackSize, error)) {
            return false;
        }
        if (!appendWord(&reading->options, strdup(word))) {
            return fail(error, "%s", outOfMemory);
        }
    }
    reading->next = i;
    return true;
}

/* "-Dsun.java.command=" followed by the main class or jar and the
 * program's arguments, blank-separated; null when memory runs out. */
static char *commandProperty(const JvmCommand *command) {
    Text text = {NULL, 0, 0};
    bool fine = appendString(&text, "-Dsun.java.command=") &&
                appendString(&text, command->jarFile != NULL ? command->jarFile
                                                             : command->mainClass);
    for (int i = 0; fine && i < command->programArgCount; i++) {
        fine = appendString(&text, " ") && appendString(&text, command->programArgs[i]);
    }
    if (!fine) {
        free(text.bytes);
        return NULL;
    }
    return text.bytes;
}

/* The class path: the jar with -jar; else the one an option gave; else
 * CLASSPATH when set and not empty; else ".". Wildcard entries are
 * expanded, except with -jar. A heap string, or null when memory runs out. */
static char *chooseClassPath(const Reading *reading, const char *classPathVariable,
                             const JvmCommand *command) {
    if (command->jarFile != NULL) {
        return strdup(command->jarFile);
    }
    if (reading->classPath != NULL) {
        return expandClassPath(reading->classPath);
    }
    if (classPathVariable != NULL && classPathVariable[0] != '\0') {
        return expandClassPath(classPathVariable);
    }
    return strdup(".");
}

/* Builds the VM's options: the class path, command and launcher
 * properties, then
 * the options read, in order, which move out of `reading`. Returns false,
 * the reason in `error`. */
static bool buildVmOptions(Reading *reading, const char *classPathVariable,
                           JvmCommand *command, char *error) {
    Words all = {NULL, 0, 0};
    char *classPath = chooseClassPath(reading, classPathVariable, command);
    bool fine = classPath != NULL &&
                appendWord(&all, formatText("-Djava.class.path=%s", classPath)) &&
                appendWord(&all, commandProperty(command)) &&
                appendWord(&all, strdup("-Dsun.java.launcher=SUN_STANDARD"));
    free(classPath);
    for (int i = 0; i < reading->options.count; i++) {
        char *option = reading->options.items[i];
        reading->options.items[i] = NULL;
        if (fine) {
            fine = appendWord(&all, option);
        } else {
            free(option);
        }
    }
    if (!fine) {
        freeWords(&all);
        return fail(error, "%s", outOfMemory);
    }
    command->vmOptions = all.items;
    command->vmOptionCount = all.count;
    return true;
}

/* Joins the environment's words and args[1..] into one vector whose word
 * array the caller frees; false when memory runs out. */
static bool joinVector(const Words *environment, int32_t argCount, char **args,
                       Vector *vector) {
    int fromArgs = argCount > 1 ? argCount - 1 : 0;
    vector->count = environment->count + fromArgs;
    vector->environmentCount = environment->count;
    vector->words = (const char **)malloc(((size_t)vector->count + 1) * sizeof(char *));
    if (vector->words == NULL) {
        return false;
    }
    for (int i = 0; i < environment->count; i++) {
        vector->words[i] = environment->items[i];
    }
    for (int i = 0; i < fromArgs; i++) {
        vector->words[environment->count + i] = args[i + 1];
    }
    return true;
}

/* Takes the main class from the vector unless -jar gave the jar, and the
 * program's arguments after it. Returns false, the reason in `error`,
 * when neither is there. */
static bool takeMainClass(const Vector *vector, int32_t argCount, char **args,
                          Reading *reading, JvmCommand *command, char *error) {
    if (command->jarFile == NULL) {
        if (reading->next >= vector->count) {
            const char *program = argCount > 0 && args[0] != NULL ? args[0] : "java";
            return fail(error, "Error: no main class given; usage: %s [options] <mainclass> "
                               "[args...] or %s [options] -jar <jarfile> [args...]",
                        program, program);
        }
        command->mainClass = vector->words[reading->next++];
    }
    command->programArgs = args + 1 + (reading->next - vector->environmentCount);
    command->programArgCount = vector->count - reading->next;
    return true;
}

bool jvmParseCommand(int32_t argCount, char **args, const char *environmentOptions,
                     const char *classPathVariable, JvmCommand *command,
                     char error[JVM_COMMAND_ERROR_SIZE]) {
    *command = emptyCommand;
    Words environment = {NULL, 0, 0};
    Reading reading = {{NULL, 0, 0}, NULL, 0};
    Vector vector = {NULL, 0, 0};
    bool fine =
        (environmentOptions == NULL ||
         splitOptionWords(environmentOptions, &environment, error)) &&
        (joinVector(&environment, argCount, args, &vector) || fail(error, "%s", outOfMemory)) &&
        readOptions(&vector, &reading, command, error) &&
        takeMainClass(&vector, argCount, args, &reading, command, error) &&
        buildVmOptions(&reading, classPathVariable, command, error);
    free(vector.words);
    freeWords(&environment);
    freeWords(&reading.options);
    if (!fine) {
        jvmReleaseCommand(command);
    }
    return fine;
}

void jvmReleaseCommand(JvmCommand *command) {
    for (int i = 0; i < command->vmOptionCount; i++) {
        free(command->vmOptions[i]);
    }
    free(command->vmOptions);
    *command = emptyCommand;
}
