// The launcher's interface functions: building the record through a
// library's table, and the debug log.
#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "captured_stderr.h"
#include "launch_harness.h"
#include "launcher.h"
#include "record_handoff.h"

namespace {

// A library table whose answers each test sets.
struct FakeLibrary {
    int32_t size = 64;
    enum { Fill, Null, Foreign } fill = Fill;
    int released = 0;
    void *bufferSeen = nullptr;
};

FakeLibrary *current;
KivlLauncherData foreignRecord;

void fakeRelease(KivLauncherHandle handle) {
    EXPECT_EQ(handle, current);
    current->released++;
}

int32_t fakeSize(KivLauncherHandle) { return current->size; }

KivlLauncherData *fakeFill(KivLauncherHandle, void *buffer, int32_t size) {
    current->bufferSeen = buffer;
    EXPECT_EQ(size, current->size);
    if (current->fill == FakeLibrary::Null) {
        return nullptr;
    }
    return current->fill == FakeLibrary::Foreign ? &foreignRecord : (KivlLauncherData *)buffer;
}

const KivlLauncherAPI fakeTable = {fakeRelease, fakeSize, fakeFill};

TEST(CreateRecord, SuccessHandsOverTheBufferAndItsSize) {
    FakeLibrary library;
    current = &library;
    int32_t size = 0;
    KivlLauncherData *record = kivLauncherCreateKivlLauncherData(&fakeTable, &library, &size);
    EXPECT_EQ((void *)record, library.bufferSeen);
    EXPECT_EQ(size, 64);
    EXPECT_EQ(library.released, 1);
    free(record);
    library.released = 0;
    record = kivLauncherCreateKivlLauncherData(&fakeTable, &library, nullptr);
    EXPECT_NE(record, nullptr);
    free(record);
}

// Every failure releases the handle once, leaves the caller's size alone
// and says why.
TEST(CreateRecord, FailuresReleaseTheHandleAndKeepTheSize) {
    struct Case {
        const char *name;
        int32_t size;
        decltype(FakeLibrary::fill) fill;
        const char *logged;
        RecordFailure failure;
    };
    for (Case c : {Case{"size 0", 0, FakeLibrary::Fill, "", recordSizeRefused},
                   Case{"negative size", -40, FakeLibrary::Fill, "", recordSizeRefused},
                   Case{"fill null", 64, FakeLibrary::Null, "", recordFillRefused},
                   Case{"foreign pointer", 64, FakeLibrary::Foreign,
                        "fillData returned a pointer outside its buffer\n",
                        recordFillOutsideBuffer}}) {
        FakeLibrary library;
        library.size = c.size;
        library.fill = c.fill;
        current = &library;
        int32_t size = 77;
        CapturedStderr err;
        EXPECT_EQ(kivLauncherCreateKivlLauncherData(&fakeTable, &library, &size), nullptr) << c.name;
        EXPECT_EQ(size, 77) << c.name;
        EXPECT_EQ(library.released, 1) << c.name;
        EXPECT_EQ(err.text(), c.logged) << c.name;
        RecordFailure failure = recordObtained;
        EXPECT_EQ(createRecord(&fakeTable, &library, &size, &failure), nullptr) << c.name;
        EXPECT_EQ(failure, c.failure) << c.name;
    }
    EXPECT_EQ(kivLauncherCreateKivlLauncherData(&fakeTable, nullptr, nullptr), nullptr);
    RecordFailure failure = recordObtained;
    EXPECT_EQ(createRecord(&fakeTable, nullptr, nullptr, &failure), nullptr);
    EXPECT_EQ(failure, recordHandleRefused);
}

// obtainRecord says why a real library gave no record, for each way it
// can stop; the test auxiliary library is steered by AUX_MODE.
TEST(ObtainRecord, SaysWhyThereIsNoRecord) {
    struct Case {
        const char *library;
        const char *mode;
        RecordFailure failure;
    };
    for (Case c : {Case{"/nonexistent/libapplauncher.so", "", recordLibraryNotLoaded},
                   Case{NO_EXPORTS_LIBRARY, "", recordGetApiNotExported},
                   Case{AUX_LIBRARY, "table-null", recordTableMissing},
                   Case{AUX_LIBRARY, "table-entry-null", recordTableEntryMissing},
                   Case{AUX_NO_CREATE_LIBRARY, "", recordCreateNotExported},
                   Case{AUX_LIBRARY, "handle-null", recordHandleRefused},
                   Case{AUX_LIBRARY, "size-zero", recordSizeRefused},
                   Case{AUX_LIBRARY, "fill-null", recordFillRefused},
                   Case{AUX_LIBRARY, "fill-foreign", recordFillOutsideBuffer},
                   Case{AUX_LIBRARY, "", recordObtained}}) {
        std::string records = testing::TempDir() + "obtain-record-XXXXXX";
        ASSERT_NE(mkdtemp(&records[0]), nullptr);
        setenv("TEST_RECORDS", records.c_str(), 1);
        setenv("AUX_RUNTIME", RUNTIME_LIBRARY, 1);
        setenv("AUX_MODE", c.mode, 1);
        char program[] = "app";
        char *argv[] = {program, nullptr};
        int32_t size = 0;
        RecordFailure failure = recordTableMissing;
        KivlLauncherData *record = obtainRecord(c.library, 1, argv, &size, &failure);
        EXPECT_EQ(failure, c.failure) << c.library << " " << c.mode;
        EXPECT_EQ(record != nullptr, c.failure == recordObtained) << c.library << " " << c.mode;
        free(record);
        unsetenv("AUX_MODE");
        unsetenv("AUX_RUNTIME");
        unsetenv("TEST_RECORDS");
        EXPECT_EQ(system(("rm -rf '" + records + "'").c_str()), 0);
    }
}

TEST(DebugLog, WritesPrefixedLinesAndKeepsDirectivesInArgumentsLiteral) {
    CapturedStderr err;
    errno = EACCES;
    kivLauncherLog("popen: exit: %d", 256);
    kivLauncherLog("%s", "lib%s%n%d: error");
    kivLauncherLog("Failed to get KivlLauncherAPI instance");
    std::string longText(5000, 'x');
    kivLauncherLog("popen: [%s]", longText.c_str());
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(err.text(), "popen: exit: 256\nlib%s%n%d: error\n"
                          "Failed to get KivlLauncherAPI instance\npopen: [" + longText + "]\n");
}

TEST(DebugLog, SilentUnlessTheVariableIsExactlyTrue) {
    CapturedStderr err;
    for (const char *value : {"TRUE", "1", "true\n", "truee", ""}) {
        setenv("SORVANTA_DEBUG", value, 1);
        kivLauncherLog("never %s", value);
    }
    unsetenv("SORVANTA_DEBUG");
    kivLauncherLog("never");
    EXPECT_EQ(err.text(), "");
}

// Two processes logging long lines at once into one pipe: each line must
// arrive whole, never split by the other process's output.
TEST(DebugLog, LinesOfTwoProcessesDoNotInterleave) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    setenv("SORVANTA_DEBUG", "true", 1);
    pid_t writers[2];
    for (int w = 0; w < 2; w++) {
        writers[w] = fork();
        if (writers[w] == 0) {
            dup2(fds[1], 2);
            close(fds[0]);
            std::string text(2000, w == 0 ? 'a' : 'b');
            for (int i = 0; i < 500; i++) {
                kivLauncherLog("%s", text.c_str());
            }
            _exit(0);
        }
    }
    unsetenv("SORVANTA_DEBUG");
    close(fds[1]);
    std::string all;
    char buffer[65536];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) {
        all.append(buffer, (size_t)got);
    }
    close(fds[0]);
    for (pid_t writer : writers) {
        waitpid(writer, nullptr, 0);
    }
    std::istringstream lines(all);
    int count = 0;
    for (std::string line; std::getline(lines, line); count++) {
        size_t body = line.find("]: ");
        ASSERT_NE(body, std::string::npos);
        std::string text = line.substr(body + 3);
        ASSERT_EQ(text.size(), 2000u) << "line " << count;
        ASSERT_EQ(text.find_first_not_of(text[0]), std::string::npos) << "line " << count;
    }
    EXPECT_EQ(count, 1000);
}

}  // namespace
