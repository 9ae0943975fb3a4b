// The hand-off of a launch data block from the child to the parent: the
// frame written into a pipe by another process, read, checked and rebased,
// for blocks of 1, 16 and 64 MiB; against a raw copy of the same bytes
// through the same kind of pipe into a fresh buffer.
#include "record_handoff.h"

#include <malloc.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_report.h"

namespace {

constexpr uint64_t mebibyte = 1024 * 1024;
constexpr int sizesInMebibytes[] = {1, 16, 64};

// A block of exactly `size` bytes laid out as an auxiliary library builds
// one: the record, the argument array, then the strings (100 bytes each
// with their zero, the last one taking up what is left). Heap memory.
KivlLauncherData *buildBlock(uint64_t size) {
    const uint64_t stringBytes = 100;
    int32_t count =
        (int32_t)((size - sizeof(KivlLauncherData) - 64) / (sizeof(char *) + stringBytes));
    char *block = (char *)malloc(size);
    KivlLauncherData *record = (KivlLauncherData *)block;
    char **args = (char **)(block + sizeof(KivlLauncherData));
    char *strings = (char *)(args + count);
    char *end = block + size;
    memset(strings, 'a', (size_t)(end - strings));
    record->runtimeLibPath = strings;
    strings[63] = '\0';
    strings += 64;
    for (int32_t i = 0; i < count; i++) {
        args[i] = strings;
        strings += stringBytes;
        strings[-1] = '\0';
    }
    end[-1] = '\0';
    record->argCount = count;
    record->envCount = 0;
    record->args = args;
    record->envNames = args + count;
    record->envValues = args + count;
    return record;
}

// A writer process, as the launcher's child is one: forked once per
// benchmark, it writes into the data pipe whenever a byte arrives on its
// control pipe, and leaves when the control pipe closes.
struct Writer {
    pid_t pid;
    int control;
    int data;
};

template <typename Send> bool startWriter(Send sendSide, Writer *writer) {
    int control[2];
    int data[2];
    if (pipe(control) != 0 || pipe(data) != 0) {
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(control[1]);
        close(data[0]);
        char request;
        while (read(control[0], &request, 1) == 1) {
            sendSide(data[1]);
        }
        _exit(0);
    }
    close(control[0]);
    close(data[1]);
    *writer = Writer{pid, control[1], data[0]};
    return pid > 0;
}

void stopWriter(const Writer &writer) {
    close(writer.control);
    close(writer.data);
    waitpid(writer.pid, nullptr, 0);
}

// Times `receiveSide` on the data pipe, once per iteration, each time
// after asking the writer process for the bytes.
template <typename Send, typename Receive>
void throughPipe(benchmark::State &state, uint64_t size, Send sendSide, Receive receiveSide) {
    Writer writer;
    if (!startWriter(sendSide, &writer)) {
        state.SkipWithError("no writer process");
        return;
    }
    for (auto _ : state) {
        if (write(writer.control, "w", 1) != 1 || !receiveSide(writer.data)) {
            state.SkipWithError("the block did not arrive sound");
            break;
        }
    }
    stopWriter(writer);
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)size);
}

// The launcher's parent side: receive the frame, check and rebase the block.
void handOff(benchmark::State &state, uint64_t size) {
    KivlLauncherData *block = buildBlock(size);
    throughPipe(
        state, size, [block, size](int fd) { (void)sendRecord(fd, block, (int32_t)size); },
        [block](int fd) {
            int32_t receivedSize = 0;
            uint64_t childAddress = 0;
            unsigned char *received = receiveBlock(fd, &receivedSize, &childAddress);
            KivlLauncherData *record =
                received == nullptr ? nullptr : acceptRecord(received, receivedSize, childAddress);
            bool sound = record != nullptr && record->argCount == block->argCount &&
                         strcmp(record->args[record->argCount - 1],
                                block->args[block->argCount - 1]) == 0;
            free(record);
            return sound;
        });
    free(block);
}

// The same bytes read into a fresh buffer, nothing else.
void rawCopy(benchmark::State &state, uint64_t size) {
    KivlLauncherData *block = buildBlock(size);
    throughPipe(
        state, size, [block, size](int fd) { (void)writeFully(fd, block, size); },
        [size](int fd) {
            char *copy = (char *)malloc(size);
            bool sound = copy != nullptr && readFully(fd, copy, size) == (int64_t)size;
            free(copy);
            return sound;
        });
    free(block);
}

std::string name(const char *what, int mebibytes) {
    return std::string(what) + "/" + std::to_string(mebibytes) + "MiB";
}

} // namespace

int main(int argc, char **argv) {
    unsetenv("SORVANTA_DEBUG");
    // A launcher receives one block in a fresh process, where glibc maps
    // every allocation of 128 KiB or more afresh. Fixing the threshold
    // keeps it so here: otherwise glibc raises it after the first free and
    // later 1 and 16 MiB blocks reuse warm memory, which no launcher gets.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    for (int mebibytes : sizesInMebibytes) {
        uint64_t size = (uint64_t)mebibytes * mebibyte;
        for (auto [what, function] : {std::pair{"handoff", handOff}, std::pair{"raw_copy", rawCopy}}) {
            medianOfNine(
                benchmark::RegisterBenchmark(name(what, mebibytes).c_str(), function, size));
        }
    }
    MedianReporter reporter;
    if (!runBenchmarks(&reporter)) {
        return 1;
    }

    bool met = true;
    std::printf("\n");
    for (int mebibytes : sizesInMebibytes) {
        double handoff = reporter.seconds(name("handoff", mebibytes));
        double raw = reporter.seconds(name("raw_copy", mebibytes));
        if (handoff <= 0 || raw <= 0) {
            continue;
        }
        std::printf("%2d MiB: hand-off %8.3f ms (%6.0f MB/s), raw pipe copy %8.3f ms (%6.0f MB/s)\n",
                    mebibytes, handoff * 1e3, mebibytes * mebibyte / handoff / 1e6, raw * 1e3,
                    mebibytes * mebibyte / raw / 1e6);
        std::string what = "hand-off / raw pipe copy, " + std::to_string(mebibytes) + " MiB";
        met &= printTarget(what.c_str(), handoff / raw, "<=", 3, "x");
    }
    double small = reporter.seconds(name("handoff", 1));
    double large = reporter.seconds(name("handoff", 64));
    if (small > 0 && large > 0) {
        met &= printTarget("hand-off 64 MiB / hand-off 1 MiB", large / small, "<=", 70, "x");
    }
    return met ? 0 : targetMissed;
}
