// Fuzz target for reading a package manager's output. Input: one byte that
// picks the line callback (0 rpm owner query, 1 dpkg owner search, 2 file
// list), then the command's output, fed to readLines through a memory stream.
#include "../locator/locator.cpp"

#include <string>

namespace {

// Prints what went wrong and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char *what, size_t value) {
    fprintf(stderr, "line_reader_fuzzer: %s (%zu)\n", what, value);
    abort();
}

// Whether `text` ends in the library's file name.
bool namesLibrary(const std::string &text) {
    size_t suffix = sizeof libraryName - 1;
    return text.size() >= suffix && text.compare(text.size() - suffix, suffix, libraryName) == 0;
}

// Stands between readLines and the callback under test: checks each line
// against the next non-empty line of the output, then passes it on.
struct Observer {
    LineCallback callback;
    void *context;
    const unsigned char *output;
    size_t outputSize;
    size_t position;        // where the next line of the output starts
    size_t bytesDelivered;  // sum of the delivered lines' lengths
    size_t lines;
    size_t libraryLines;    // delivered lines that end in the library's name
    bool stopped;           // the callback has answered something but 1
    std::string firstLine;
    std::string lastLine;
    size_t firstOwnerLine;  // 1-based number of the first dpkg owner line, 0: none yet
    std::string ownerLine;
};

// Whether a dpkg search line names owners rather than a diversion: in the
// text before its first colon, every blank follows a comma.
bool namesOwners(const std::string &line) {
    std::string names = line.substr(0, line.find(':'));
    for (size_t i = 0; i < names.size(); i++) {
        if ((names[i] == ' ' || names[i] == '\t') && (i == 0 || names[i - 1] != ',')) {
            return false;
        }
    }
    return true;
}

// The output's next non-empty line from `observer->position` on, as the
// text before its first zero byte (that is all a C string can carry), or
// false when only newlines are left; moves the position past it.
bool nextExpectedLine(Observer *observer, std::string *text) {
    const unsigned char *output = observer->output;
    size_t at = observer->position;
    while (at < observer->outputSize && output[at] == '\n') {
        at++;
    }
    if (at == observer->outputSize) {
        observer->position = at;
        return false;
    }
    size_t end = at;
    while (end < observer->outputSize && output[end] != '\n') {
        end++;
    }
    size_t textEnd = at;
    while (textEnd < end && output[textEnd] != '\0') {
        textEnd++;
    }
    text->assign((const char *)output + at, textEnd - at);
    observer->position = end;
    return true;
}

// The LineCallback readLines is given: aborts unless a line is due, it is
// that line, NUL-terminated and without '\n', and the bytes delivered so far
// fit in the output; then answers what the callback under test answers.
int32_t observeLine(void *context, char *line) {
    Observer *observer = (Observer *)context;
    if (observer->stopped) {
        fail("line delivered after the callback asked to stop", observer->lines);
    }
    std::string expected;
    if (!nextExpectedLine(observer, &expected)) {
        fail("line delivered past the output's last line", observer->lines);
    }
    size_t length = strlen(line);
    if (length != expected.size() || memcmp(line, expected.data(), length) != 0) {
        fail("delivered line differs from the output's line", observer->lines);
    }
    if (memchr(line, '\n', length) != nullptr) {
        fail("delivered line holds a newline", observer->lines);
    }
    observer->bytesDelivered += length;
    if (observer->bytesDelivered > observer->outputSize) {
        fail("more bytes delivered than the output holds", observer->bytesDelivered);
    }
    if (observer->lines == 0) {
        observer->firstLine = expected;
    }
    observer->lastLine = expected;
    observer->lines++;
    if (observer->firstOwnerLine == 0 && namesOwners(expected)) {
        observer->firstOwnerLine = observer->lines;
        observer->ownerLine = expected;
    }
    observer->libraryLines += namesLibrary(expected);
    int32_t answer = observer->callback(observer->context, line);
    observer->stopped = answer != 1;
    return answer;
}

// Aborts unless `desc` holds `name` and `type` when a line was delivered,
// and is untouched otherwise.
void checkPackage(const Observer &observer, const PackageDesc &desc, const std::string &name,
                  int32_t type) {
    if (observer.lines == 0) {
        if (desc.name != nullptr || desc.type != 0) {
            fail("package set without any line", 0);
        }
        return;
    }
    if (observer.lines != 1) {
        fail("owner query read past its first line", observer.lines);
    }
    if (desc.name == nullptr || desc.type != type || name != desc.name) {
        fail("package is not the first line's", (size_t)type);
    }
}

// Aborts unless the dpkg search took the package before the colon of its
// first owner line and stopped there, or, with diversion lines alone, left
// `desc` untouched and read them all.
void checkOwnerSearch(const Observer &observer, const PackageDesc &desc) {
    if (observer.firstOwnerLine == 0) {
        if (desc.name != nullptr || desc.type != 0 || observer.stopped) {
            fail("diversion line taken for the owner", observer.lines);
        }
        return;
    }
    if (observer.lines != observer.firstOwnerLine) {
        fail("owner search read past its first owner line", observer.lines);
    }
    std::string name = observer.ownerLine.substr(0, observer.ownerLine.find(':'));
    if (desc.name == nullptr || desc.type != 2 || name != desc.name) {
        fail("package is not the first owner line's", observer.lines);
    }
}

}  // namespace

// Turns the launcher's debug log off: it would only slow the runs down.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    unsetenv("SORVANTA_DEBUG");
    return 0;
}

// One input: read the output with the chosen callback and check what it
// kept; frees the package name or library path the callback stored.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    int mode = data[0] % 3;
    size_t outputSize = size - 1;
    unsigned char *output = (unsigned char *)malloc(outputSize + 1);
    if (output == nullptr) {
        return 0;
    }
    memcpy(output, data + 1, outputSize);
    FILE *stream = fmemopen(output, outputSize, "r");
    if (stream == nullptr) {
        fail("fmemopen failed", outputSize);
    }
    PackageDesc desc = {nullptr, 0};
    char *library = nullptr;
    const LineCallback callbacks[3] = {initRpmPackage, initDebPackage, findLauncherLib};
    void *contexts[3] = {&desc, &desc, &library};
    Observer observer = {callbacks[mode], contexts[mode], data + 1, outputSize, 0, 0, 0, 0,
                         false, {}, {}, 0, {}};
    readLines(stream, observeLine, &observer);
    fclose(stream);
    std::string rest;
    if (!observer.stopped && nextExpectedLine(&observer, &rest)) {
        fail("a line of the output was not delivered", observer.lines);
    }
    if (mode == 0) {
        checkPackage(observer, desc, observer.firstLine, 1);
    } else if (mode == 1) {
        checkOwnerSearch(observer, desc);
    } else if (observer.stopped) {
        if (observer.libraryLines != 1 || !namesLibrary(observer.lastLine) ||
            library == nullptr || observer.lastLine != library) {
            fail("stored path is not the first library line", observer.lines);
        }
    } else if (library != nullptr || observer.libraryLines != 0) {
        fail("library line passed over", observer.lines);
    }
    free(desc.name);
    free(library);
    free(output);
    return 0;
}
