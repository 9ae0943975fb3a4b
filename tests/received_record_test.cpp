// Checking and rebasing a received record block, and the pipe helpers.
#define main launcherMain
#include "../launcher/main.cpp"
#undef main

#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_stderr.h"

namespace {

const uint64_t childBase = 0x7f0000010000;

// A record block laid out as a library would build it, with pointers as
// they were at `childBase` in the child. Word-aligned storage.
struct Block {
    std::vector<uint64_t> words;
    uint64_t size = 0;

    unsigned char *bytes() { return (unsigned char *)words.data(); }
    KivlLauncherData *record() { return (KivlLauncherData *)words.data(); }
    uint64_t at(uint64_t offset) const { return childBase + offset; }
    void putWord(uint64_t offset, uint64_t value) { memcpy(bytes() + offset, &value, 8); }
    const char *check() { return checkReceivedRecord(bytes(), size, childBase); }
};

Block buildBlock(const std::string &runtime, const std::vector<std::string> &args,
                 const std::vector<std::pair<std::string, std::string>> &env) {
    std::vector<std::string> texts{runtime};
    texts.insert(texts.end(), args.begin(), args.end());
    for (auto &[name, value] : env) {
        texts.push_back(name);
        texts.push_back(value);
    }
    uint64_t arrays = 40;
    uint64_t strings = arrays + 8 * (args.size() + 2 * env.size());
    uint64_t size = strings;
    for (const std::string &text : texts) {
        size += text.size() + 1;
    }
    Block block;
    block.size = size;
    block.words.assign((size + 7) / 8, 0);
    std::vector<uint64_t> offsets;
    for (const std::string &text : texts) {
        offsets.push_back(strings);
        memcpy(block.bytes() + strings, text.c_str(), text.size() + 1);
        strings += text.size() + 1;
    }
    uint64_t argArray = arrays;
    uint64_t nameArray = argArray + 8 * args.size();
    uint64_t valueArray = nameArray + 8 * env.size();
    block.putWord(0, block.at(offsets[0]));
    int32_t counts[2] = {(int32_t)args.size(), (int32_t)env.size()};
    memcpy(block.bytes() + 8, counts, 8);
    block.putWord(16, block.at(argArray));
    block.putWord(24, block.at(nameArray));
    block.putWord(32, block.at(valueArray));
    for (size_t i = 0; i < args.size(); i++) {
        block.putWord(argArray + 8 * i, block.at(offsets[1 + i]));
    }
    for (size_t i = 0; i < env.size(); i++) {
        block.putWord(nameArray + 8 * i, block.at(offsets[1 + args.size() + 2 * i]));
        block.putWord(valueArray + 8 * i, block.at(offsets[2 + args.size() + 2 * i]));
    }
    return block;
}

Block sampleBlock() {
    return buildBlock("/rt/libruntime.so", {"--from-record", "", "two words"},
                      {{"NAME", "value"}, {"EMPTY", ""}});
}

TEST(ReceivedRecord, SoundBlockRebasedElsewhereReadsTheSame) {
    Block block = sampleBlock();
    ASSERT_EQ(block.check(), nullptr);
    KivlLauncherData *record = block.record();
    rebaseRecord(record, (intptr_t)((uintptr_t)block.bytes() - childBase));
    EXPECT_STREQ(record->runtimeLibPath, "/rt/libruntime.so");
    ASSERT_EQ(record->argCount, 3);
    EXPECT_STREQ(record->args[0], "--from-record");
    EXPECT_STREQ(record->args[1], "");
    EXPECT_STREQ(record->args[2], "two words");
    ASSERT_EQ(record->envCount, 2);
    EXPECT_STREQ(record->envNames[0], "NAME");
    EXPECT_STREQ(record->envValues[0], "value");
    EXPECT_STREQ(record->envNames[1], "EMPTY");
    EXPECT_STREQ(record->envValues[1], "");
}

TEST(ReceivedRecord, RebaseByZeroLeavesTheBlockUnchanged) {
    Block block = sampleBlock();
    rebaseRecord(block.record(), (intptr_t)((uintptr_t)block.bytes() - childBase));
    std::vector<uint64_t> before = block.words;
    rebaseRecord(block.record(), 0);
    EXPECT_EQ(block.words, before);
}

TEST(ReceivedRecord, EmptyArraysMayPointAnywhereInTheBlock) {
    Block block = buildBlock("/rt.so", {}, {});
    for (uint64_t offset : {uint64_t{0}, uint64_t{16}, block.size}) {
        block.putWord(16, block.at(offset));
        block.putWord(24, block.at(offset));
        block.putWord(32, block.at(offset));
        EXPECT_EQ(block.check(), nullptr) << offset;
    }
}

// Each case breaks one rule of the block; the check must name a fault.
TEST(ReceivedRecord, BlocksBreakingTheRulesAreRejected) {
    std::vector<std::pair<std::string, std::function<void(Block &)>>> cases = {
        {"shorter than the record", [](Block &b) { b.size = 39; }},
        {"empty", [](Block &b) { b.size = 0; }},
        {"negative argument count", [](Block &b) { b.record()->argCount = -1; }},
        {"negative variable count", [](Block &b) { b.record()->envCount = INT32_MIN; }},
        {"argument count past the block", [](Block &b) { b.record()->argCount = 1000; }},
        {"huge argument count", [](Block &b) { b.record()->argCount = INT32_MAX; }},
        {"args below the block", [](Block &b) { b.putWord(16, childBase - 8); }},
        {"args far above the block", [](Block &b) { b.putWord(16, childBase + (1ull << 62)); }},
        {"args over the record", [](Block &b) { b.putWord(16, b.at(0)); }},
        {"args misaligned", [](Block &b) { b.putWord(16, b.at(41)); }},
        {"names over args", [](Block &b) { b.putWord(24, b.at(48)); }},
        {"values over names", [](Block &b) { b.putWord(32, b.at(64)); }},
        {"path inside the record", [](Block &b) { b.putWord(0, b.at(8)); }},
        {"path at the block end", [](Block &b) { b.putWord(0, b.at(b.size)); }},
        {"path below the block", [](Block &b) { b.putWord(0, childBase - 1); }},
        {"argument inside an array", [](Block &b) { b.putWord(40, b.at(56)); }},
        {"argument outside", [](Block &b) { b.putWord(48, 0x1234); }},
        {"value outside", [](Block &b) { b.putWord(40 + 8 * 5, b.at(b.size + 1)); }},
        {"last string unterminated", [](Block &b) { b.bytes()[b.size - 1] = 'x'; }},
        {"block cut inside the last string", [](Block &b) { b.size -= 1; }},
    };
    for (auto &[name, breakIt] : cases) {
        Block block = sampleBlock();
        breakIt(block);
        EXPECT_NE(block.check(), nullptr) << name;
    }
}

// A string placed before an array must end before it: the rebase rewrites
// the array and would otherwise change the string's bytes.
TEST(ReceivedRecord, StringRunningIntoAnArrayIsRejected) {
    Block block = buildBlock("/rt.so", {"a"}, {});
    // Move the argument array to the end and let the path run up to it.
    uint64_t array = (block.size + 7) / 8 * 8;
    block.words.resize(array / 8 + 1);
    block.size = array + 8;
    uint64_t path = array - 6;
    memcpy(block.bytes() + path, "abcdef", 6);
    block.putWord(0, block.at(path));
    block.putWord(16, block.at(array));
    block.putWord(array, block.at(path));
    EXPECT_NE(block.check(), nullptr);
    block.bytes()[array - 1] = '\0';
    EXPECT_EQ(block.check(), nullptr);
}

TEST(PipeHelpers, ReadStopsShortAtEndOfFileAndClosingTwiceIsHarmless) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(writeFully(fds[1], "abc", 3), 3);
    closePipeEnd(fds, 1);
    EXPECT_EQ(fds[1], -1);
    closePipeEnd(fds, 1);
    char buffer[8];
    EXPECT_EQ(readFully(fds[0], buffer, sizeof buffer), 3);
    EXPECT_EQ(readFully(fds[0], buffer, sizeof buffer), 0);
    closePipeEnd(fds, 0);
    EXPECT_EQ(fds[0], -1);
}

TEST(PipeHelpers, WriteToAClosedPipeFails) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    closePipeEnd(fds, 0);
    sighandler_t old = signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(writeFully(fds[1], "abc", 3), -1);
    EXPECT_EQ(errno, EPIPE);
    signal(SIGPIPE, old);
    closePipeEnd(fds, 1);
}

// What reaches the parent is logged by the receive step in one line.
TEST(PipeHelpers, ShortFrameIsReportedWithTheBytesReceived) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int32_t size = 64;
    ASSERT_EQ(writeFully(fds[1], &size, 4), 4);
    closePipeEnd(fds, 1);
    CapturedStderr err;
    errno = 0;
    EXPECT_EQ(receiveRecord(fds, getpid()), nullptr);
    EXPECT_EQ(fds[0], -1);
    EXPECT_EQ(err.text(), "pipe: end of file after 0 of 8 bytes\n");
}

}  // namespace
