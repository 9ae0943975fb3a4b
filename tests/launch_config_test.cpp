// The reference auxiliary library's configuration parser and block layout.
// Blocks are checked with the launcher's own received-record check, so the
// library and the launcher agree on what a sound block is.
#include "../launcher/record_handoff.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launch_block.h"
#include "launch_config.h"
#include "memory_config_source.h"

namespace {

using Strings = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

const std::string mainFile = "/opt/app/lib/applauncher.cfg";

// The configuration `memory` holds, loaded from mainFile.
struct Parsed {
    MemoryConfig memory;
    bool ok = false;
    LaunchConfig config{};
    ConfigError error{};

    explicit Parsed(MemoryConfig setup, uint64_t reservedBytes = 0) : memory(std::move(setup)) {
        ConfigSource source = memory.source();
        ok = loadLaunchConfig(&source, mainFile.c_str(), "/opt/app", reservedBytes, &config,
                              &error);
    }
    explicit Parsed(const std::string &text, Files env = {})
        : Parsed(MemoryConfig{{{mainFile, text}}, std::move(env)}) {}
    ~Parsed() { freeLaunchConfig(&config); }
    Parsed(const Parsed &) = delete;
    Parsed &operator=(const Parsed &) = delete;

    Strings args() const { return Strings(config.args, config.args + config.argCount); }
    Strings env() const {
        Strings pairs;
        for (int32_t i = 0; i < config.envCount; i++) {
            pairs.push_back(std::string(config.envNames[i]) + "=" + config.envValues[i]);
        }
        return pairs;
    }
    // "file:line: reason", or "file: reason" for line 0; checks that a
    // refused configuration is left empty.
    std::string refusal() const {
        EXPECT_FALSE(ok);
        EXPECT_EQ(config.runtime, nullptr);
        EXPECT_EQ(config.argCount + config.envCount, 0);
        std::string where = error.file;
        if (error.line > 0) {
            where += ":" + std::to_string(error.line);
        }
        return where + ": " + error.reason;
    }
};

std::string refusal(const std::string &text, Files env = {}) {
    return Parsed(text, std::move(env)).refusal();
}

TEST(LaunchConfig, ReadsKeysInOrderSkippingCommentsBlankLinesAndAByteOrderMark) {
    Parsed parsed(
        "\xEF\xBB\xBF# comment\n"
        "\n"
        "   \t\n"
        "runtime=/usr/lib/rt.so\n"
        "  # indented comment\n"
        "arg=first\n"
        " arg =second one \n"
        "arg=\n"
        "env=MODE=fast=yes\n"
        "env=EMPTY=\r\n"
        "env=MODE=slow\n"
        "arg=last");
    ASSERT_TRUE(parsed.ok) << parsed.error.reason;
    EXPECT_STREQ(parsed.config.runtime, "/usr/lib/rt.so");
    EXPECT_EQ(parsed.args(), (Strings{"first", "second one ", "", "last"}));
    EXPECT_EQ(parsed.env(), (Strings{"MODE=slow", "EMPTY="}));
}

TEST(LaunchConfig, ExpandsVariablesAndDefaultsOnceLeavingValuesVerbatim) {
    const std::string tricky = "a$b ${HOME} 'q\" =\nz\\";
    Parsed parsed(
        "runtime=rt/librt.so\n"
        "arg=${HOME}/x\n"
        "arg=[${UNSET}]\n"
        "arg=${UNSET:-default} ${EMPTY:-default} ${HOME:-default}\n"
        "arg=${UNSET:-${EMPTY:-${HOME}/deep}}\n"
        "arg=${TRICKY}\n"
        "arg=${UNSET:-${TRICKY}}\n"
        "arg=$APPDIR:${APPDIR}/x:$CONFIGDIR:${CONFIGDIR:-none}\n"
        "arg=$$HOME $${HOME} $$$$\n"
        "env=VERBATIM=${TRICKY}\n",
        {{"HOME", "/home/u"}, {"EMPTY", ""}, {"TRICKY", tricky}, {"APPDIR", "/elsewhere"}});
    ASSERT_TRUE(parsed.ok) << parsed.error.reason;
    EXPECT_STREQ(parsed.config.runtime, "/opt/app/lib/rt/librt.so");
    EXPECT_EQ(parsed.args(),
              (Strings{"/home/u/x", "[]", "default default /home/u", "/home/u/deep", tricky, tricky,
                       "/opt/app:/opt/app/x:/opt/app/lib:/opt/app/lib", "$HOME ${HOME} $$"}));
    EXPECT_EQ(parsed.env(), (Strings{"VERBATIM=" + tricky}));

    std::string nested = "runtime=/rt.so\narg=";
    for (int i = 0; i < 32; i++) {
        nested += "${U:-";
    }
    EXPECT_TRUE(Parsed(nested + "in" + std::string(32, '}')).ok);
    EXPECT_EQ(refusal(nested + "${U:-in" + std::string(33, '}')),
              mainFile + ":2: defaults nested deeper than 32");
}

TEST(LaunchConfig, RefusesMalformedDollarFormsNamingTheLine) {
    for (const auto &[value, reason] : std::vector<std::pair<std::string, std::string>>{
             {"${", "unterminated \"${\""},
             {"${UNSET:-abc", "unterminated \"${\""},
             {"${}", "\"${\" must be followed by a variable name"},
             {"${1A}", "\"${\" must be followed by a variable name"},
             {"${A-b}", "\"${A-\" is not ${NAME} or ${NAME:-WORD}"},
             {"$BOGUS/x", "unknown \"$BOGUS\" (a variable is written ${BOGUS})"},
             {"$APPDIRX", "unknown \"$APPDIRX\" (a variable is written ${APPDIRX})"},
             {"${HOME:-$BOGUS}", "unknown \"$BOGUS\" (a variable is written ${BOGUS})"},
             {"cost: 5$", "\"$\" must start $NAME, ${NAME} or $$"},
         }) {
        EXPECT_EQ(refusal("runtime=/rt.so\narg=" + value + "\n", {{"HOME", "/h"}}),
                  mainFile + ":2: " + reason)
            << value;
    }
}

TEST(LaunchConfig, ArgsSplitsWordsAtBlanksWithQuotesAndNothingElse) {
    Parsed parsed(
        "runtime=/rt.so\n"
        "arg=first\n"
        "args=${OPTS}\n"
        "args=  a\tb  \n"
        "args=\"\" ''\n"
        "args=\"a\\\"b\\\\c\\d\" 'x\\y' back\\slash\n"
        "args=a\"b c\"d'e f'\n"
        "args=${UNSET}\n"
        "arg=last\n",
        {{"OPTS", "--name 'Mary Ann' -Dx=\"a b\" *.txt $HOME ${HOME}"}});
    ASSERT_TRUE(parsed.ok) << parsed.error.reason;
    EXPECT_EQ(parsed.args(),
              (Strings{"first", "--name", "Mary Ann", "-Dx=a b", "*.txt", "$HOME", "${HOME}", "a",
                       "b", "", "", "a\"b\\c\\d", "x\\y", "back\\slash", "ab cde f", "last"}));

    EXPECT_EQ(refusal("runtime=/rt.so\nargs='abc\n"), mainFile + ":2: unterminated \"'\" in args=");
    EXPECT_EQ(refusal("runtime=/rt.so\nargs=\"a\\\"\n"), mainFile + ":2: unterminated '\"' in args=");
    EXPECT_EQ(refusal("runtime=/rt.so\n\nargs=${Q}\n", {{"Q", "it's"}}),
              mainFile + ":3: unterminated \"'\" in args=");
}

TEST(LaunchConfig, IncludesReadFilesInSortedOrderFromTheIncludingFilesDirectory) {
    MemoryConfig memory{{
        {mainFile,
         "runtime=rt.so\nenv=A=main\nenv=B=main\narg=main1\ninclude=applauncher.d/*.cfg\n"
         "arg=main2\ninclude-optional=${XDG_CONFIG_HOME:-${HOME}/.config}/hello/app.cfg\n"},
        {"/opt/app/lib/applauncher.d/20-b.cfg", "env=A=b\narg=b\ninclude=../extra/x.cfg\n"},
        {"/opt/app/lib/applauncher.d/10-a.cfg", "\xEF\xBB\xBF" "arg=a\nenv=C=$CONFIGDIR\n"},
        {"/opt/app/lib/applauncher.d/.hidden.cfg", "arg=hidden\n"},
        {"/opt/app/lib/applauncher.d/notes.txt", "arg=notes\n"},
        {"/opt/app/lib/applauncher.d/../extra/x.cfg", "arg=x\n"},
        {"/home/u*/.config/hello/app.cfg", "arg=user\nenv=B=user\n"},
        {"/home/uX/.config/hello/app.cfg", "arg=not the user's\n"},
    }};
    memory.env = {{"HOME", "/home/u*"}};
    Parsed parsed(memory);
    ASSERT_TRUE(parsed.ok) << parsed.error.file << ":" << parsed.error.line << ": "
                           << parsed.error.reason;
    EXPECT_EQ(parsed.args(), (Strings{"main1", "a", "b", "x", "main2", "user"}));
    EXPECT_EQ(parsed.env(), (Strings{"A=b", "B=user", "C=/opt/app/lib/applauncher.d"}));
    EXPECT_EQ(parsed.memory.trace,
              (Strings{"read " + mainFile, "read /opt/app/lib/applauncher.d/10-a.cfg",
                       "read /opt/app/lib/applauncher.d/20-b.cfg",
                       "read /opt/app/lib/applauncher.d/../extra/x.cfg",
                       "read /home/u*/.config/hello/app.cfg"}));

    memory.env = {{"XDG_CONFIG_HOME", "/nowhere"}};
    Parsed withoutUserFile(memory);
    ASSERT_TRUE(withoutUserFile.ok);
    EXPECT_EQ(withoutUserFile.args(), (Strings{"main1", "a", "b", "x", "main2"}));
    EXPECT_EQ(withoutUserFile.memory.trace.back(), "no match /nowhere/hello/app.cfg");
}

TEST(LaunchConfig, IncludeFaultsNameTheFileAndLine) {
    const std::string dir = "/opt/app/lib/";
    auto refused = [](Files files) { return Parsed(MemoryConfig{std::move(files)}).refusal(); };
    EXPECT_EQ(refused({{mainFile, "runtime=/rt.so\ninclude=d/*.cfg\n"}, {dir + "d/x.txt", ""}}),
              mainFile + ":2: include= matched nothing: " + dir + "d/*.cfg");
    EXPECT_EQ(refused({{mainFile, "include=a.cfg\n"}, {dir + "a.cfg", "runtime=/rt.so\n\nbogus=1\n"}}),
              dir + "a.cfg:3: unknown key \"bogus\"");
    EXPECT_EQ(refused({{mainFile, "runtime=/rt.so\ninclude=a.cfg\n"},
                       {dir + "a.cfg", "include=$CONFIGDIR/applauncher.cfg\n"}}),
              dir + "a.cfg:1: include cycle: " + mainFile + " is already being read");
    EXPECT_EQ(refused({{mainFile, "runtime=/rt.so\ninclude=a.cfg\n"}, {dir + "a.cfg", "runtime=/rt.so\n"}}),
              dir + "a.cfg:1: runtime= given twice (first in " + mainFile + ":1)");
    EXPECT_EQ(refused({{mainFile, "include-optional=a.cfg \n"}}),
              mainFile + ":1: include-optional= path ends with a blank");

    // Sixteen levels of includes are read, a seventeenth is refused.
    Files chain{{mainFile, "runtime=/rt.so\ninclude=c1.cfg\n"}};
    for (int level = 1; level <= 16; level++) {
        chain[dir + "c" + std::to_string(level) + ".cfg"] =
            "arg=" + std::to_string(level) + "\ninclude-optional=c" + std::to_string(level + 1) + ".cfg\n";
    }
    Parsed sixteen(MemoryConfig{chain});
    ASSERT_TRUE(sixteen.ok) << sixteen.error.reason;
    EXPECT_EQ(sixteen.config.argCount, 16);
    chain[dir + "c17.cfg"] = "arg=17\n";
    EXPECT_EQ(refused(chain), dir + "c16.cfg:2: includes nested deeper than 16");

    Files many{{mainFile, "runtime=/rt.so\ninclude=d/*\n"}};
    for (int i = 0; i < 1024; i++) {
        many[dir + "d/" + std::to_string(i)] = "";
    }
    EXPECT_EQ(refused(many), mainFile + ":2: more than 1024 configuration files");
}

TEST(LaunchConfig, RefusesMalformedTextAndPackagersSlipsNamingTheLine) {
    EXPECT_EQ(refusal("runtime=/rt.so\n\nbogus=1\n"), mainFile + ":3: unknown key \"bogus\"");
    EXPECT_EQ(refusal("runtime=/rt.so\njust words\n"), mainFile + ":2: line has no '='");
    EXPECT_EQ(refusal("# only a comment\n"), mainFile + ": no runtime= line");
    EXPECT_EQ(refusal(""), mainFile + ": no runtime= line");
    EXPECT_EQ(refusal("runtime=/a.so\nruntime=/b.so\n"),
              mainFile + ":2: runtime= given twice (first in " + mainFile + ":1)");
    EXPECT_EQ(refusal("runtime=\n"), mainFile + ":1: runtime= is empty");
    EXPECT_EQ(refusal("runtime=${UNSET}\n"), mainFile + ":1: runtime= expands to an empty path");
    EXPECT_EQ(refusal("runtime=/rt.so \n"), mainFile + ":1: runtime= path ends with a blank");
    EXPECT_EQ(refusal("runtime=\t/rt.so\n"), mainFile + ":1: runtime= path starts with a blank");
    EXPECT_EQ(refusal("runtime=/rt.so\nenv=NOVALUE\n"), mainFile + ":2: env= needs NAME=VALUE");
    EXPECT_EQ(refusal("runtime=/rt.so\nenv==x\n"), mainFile + ":2: env= needs NAME=VALUE");
    for (const char *name : {" PYTHONPATH", "1X", "A-B", "A.B", "$APPDIR"}) {
        EXPECT_EQ(refusal("runtime=/rt.so\nenv=" + std::string(name) + "=x\n"),
                  mainFile + ":2: env= name \"" + name +
                      "\" is not a variable name (letters, digits and _, not starting with a digit)");
    }
    EXPECT_EQ(refusal(std::string("runtime=/rt.so\narg=a\0b\n", 22)),
              mainFile + ":2: line holds a NUL byte");
    EXPECT_EQ(refusal("Runtime=/rt.so\n"), mainFile + ":1: unknown key \"Runtime\"");
    EXPECT_EQ(refusal("=value\n"), mainFile + ":1: unknown key \"\"");
    EXPECT_EQ(refusal("runtime=/rt.so\n" + std::string(500, 'k') + "=1\n"),
              mainFile + ":2: unknown key \"" + std::string(64, 'k') + "\"");

    MemoryConfig missing{{{mainFile, "# the runtime\nruntime=$APPDIR/libnowhere.so\n"}}};
    missing.anyRuntimeExists = false;
    EXPECT_EQ(Parsed(missing).refusal(),
              mainFile + ":2: /opt/app/libnowhere.so: No such file or directory");
    missing.files["/opt/app/libnowhere.so"] = "";
    EXPECT_TRUE(Parsed(missing).ok);
}

TEST(LaunchConfig, GrowsArraysForManyEntries) {
    std::string text = "runtime=/rt.so\n";
    for (int i = 0; i < 1000; i++) {
        text += "arg=a" + std::to_string(i) + "\nenv=V" + std::to_string(i) + "=" +
                std::to_string(i) + "\n";
    }
    Parsed parsed(text);
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(parsed.config.argCount, 1000);
    ASSERT_EQ(parsed.config.envCount, 1000);
    EXPECT_STREQ(parsed.config.args[999], "a999");
    EXPECT_STREQ(parsed.config.envNames[513], "V513");
    EXPECT_STREQ(parsed.config.envValues[513], "513");
}

TEST(LaunchConfig, ValuesThatExpandPastTheLaunchDataLimitAreRefused) {
    // Reserve all but 200 bytes for the command line: the record and the
    // null entry (48 bytes), the runtime path (7) and what the values add
    // (a 100-byte argument takes 109) must fit in the rest.
    const uint64_t reserved = INT32_MAX - 200;
    Files big{{"BIG", std::string(200, 'x')}, {"FIT", std::string(100, 'x')}};
    for (const char *line : {"arg=${BIG}", "args=${BIG}", "env=N=${BIG}", "arg=${FIT}\narg=${FIT}"}) {
        Parsed parsed(MemoryConfig{{{mainFile, std::string("runtime=/rt.so\n") + line + "\n"}}, big},
                      reserved);
        EXPECT_FALSE(parsed.ok) << line;
        EXPECT_NE(std::string(parsed.error.reason).find("2 GiB"), std::string::npos) << line;
        EXPECT_GE(parsed.error.line, 2) << line;
    }
    EXPECT_TRUE(Parsed(MemoryConfig{{{mainFile, "runtime=/rt.so\narg=${FIT}\n"}}, big}, reserved).ok);
}

TEST(LaunchConfig, ValuesLongerThanExecTakesAndARunawayExpansionAreRefusedNamingTheLine) {
    const std::string exact(131072, 'v');
    Files env{{"EXACT", exact}, {"OVER", exact + "v"}, {"KIB128", std::string(128 * 1024, 'k')}};
    std::string runaway = "arg=";
    for (int i = 0; i < 1000; i++) {
        runaway += "${KIB128}";
    }
    const std::string longer = "value longer than 131072 bytes";
    struct Case {
        std::string lines;  // after "runtime=/rt.so", or a whole file starting with "runtime="
        std::string refusal;  // "" when it loads
    };
    for (const Case &c : {
             Case{"arg=${EXACT}", ""},
             Case{"arg=${OVER}", longer},
             Case{runaway, longer},
             Case{"arg=$APPDIR/${EXACT}", longer},
             Case{"env=N=" + std::string(131070, 'v'), ""},
             Case{"env=N=" + std::string(131071, 'v'), longer},
             Case{"env=N=${EXACT}", longer},
             Case{"args=${EXACT} '${EXACT}'", ""},
             Case{"args=${OVER}", longer},
             Case{"args=a ${EXACT}b", longer},
             Case{"include-optional=/${EXACT}", longer},
             Case{"runtime=/${OVER}", longer},
         }) {
        bool whole = c.lines.rfind("runtime=", 0) == 0;
        std::string text = whole ? c.lines : "runtime=/rt.so\n" + c.lines;
        Parsed parsed(MemoryConfig{{{mainFile, text + "\n"}}, env});
        if (c.refusal.empty()) {
            EXPECT_TRUE(parsed.ok) << c.lines.substr(0, 40) << ": " << parsed.error.reason;
        } else {
            int line = whole ? 1 : 2;
            EXPECT_EQ(parsed.refusal(), mainFile + ":" + std::to_string(line) + ": " + c.refusal)
                << c.lines.substr(0, 40);
        }
    }
}

TEST(LaunchConfig, TheConfigurationsLaunchDataIsRefusedPastSixMebibytesTheCommandLineAside) {
    // Each argument of 131072 bytes takes 131081 (its zero and pointer);
    // 47 fit beside the record (48 bytes) and the runtime path (7) in
    // 6 MiB, a 48th does not.
    Files env{{"EXACT", std::string(131072, 'v')}};
    auto withArguments = [](int count) {
        std::string text = "runtime=/rt.so\n";
        for (int i = 0; i < count; i++) {
            text += "arg=${EXACT}\n";
        }
        return text;
    };
    EXPECT_TRUE(Parsed(MemoryConfig{{{mainFile, withArguments(47)}}, env}).ok);
    Parsed over(MemoryConfig{{{mainFile, withArguments(48)}}, env});
    EXPECT_EQ(over.refusal(), mainFile + ":49: value expands past the 6 MiB limit of the "
                                         "configuration's launch data");
    // args= words and env= values draw on the same allowance.
    std::string words = "runtime=/rt.so\n";
    for (int i = 0; i < 16; i++) {
        words += "args=${EXACT} ${EXACT} ${EXACT}\n";
    }
    EXPECT_EQ(Parsed(MemoryConfig{{{mainFile, words}}, env}).refusal(),
              mainFile + ":17: value expands past the 6 MiB limit of the configuration's "
                         "launch data");
    // The command line came through exec already: 100 MiB of it leaves the
    // configuration its whole allowance.
    EXPECT_TRUE(Parsed(MemoryConfig{{{mainFile, withArguments(47)}}, env}, 100u << 20).ok);
}

TEST(LaunchConfig, EachRefusalHasAPlainFormThatQuotesNothingOfTheConfiguration) {
    struct Case {
        std::string line;
        std::string reason;
        std::string plain;
    };
    Files env{{"SECRET", "s3cret"}};
    for (const Case &c : {
             Case{"s3cret=1", "unknown key \"s3cret\"", "unknown key"},
             Case{"env=s3cret-x=1",
                  "env= name \"s3cret-x\" is not a variable name (letters, digits and _, not "
                  "starting with a digit)",
                  "env= name is not a variable name (letters, digits and _, not starting with a "
                  "digit)"},
             Case{"arg=${s3cret+x}", "\"${s3cret+\" is not ${NAME} or ${NAME:-WORD}",
                  "a \"${\" form is not ${NAME} or ${NAME:-WORD}"},
             Case{"arg=$s3cret", "unknown \"$s3cret\" (a variable is written ${s3cret})",
                  "unknown $NAME (a variable is written ${NAME})"},
             Case{"include=/s3cret/*.cfg", "include= matched nothing: /s3cret/*.cfg",
                  "include= matched nothing"},
             Case{"include=$CONFIGDIR/applauncher.cfg",
                  "include cycle: /opt/app/lib/applauncher.cfg is already being read",
                  "include cycle"},
             Case{"runtime=/s3cret.so", "runtime= given twice (first in " + mainFile + ":1)",
                  "runtime= given twice"},
             Case{"arg=${UNSET", "unterminated \"${\"", "unterminated \"${\""},
             Case{"line without equals", "line has no '='", "line has no '='"},
         }) {
        Parsed parsed(MemoryConfig{{{mainFile, "runtime=/rt.so\n" + c.line + "\n"}}, env});
        ASSERT_FALSE(parsed.ok) << c.line;
        EXPECT_STREQ(parsed.error.reason, c.reason.c_str()) << c.line;
        EXPECT_STREQ(parsed.error.plainReason, c.plain.c_str()) << c.line;
    }
    MemoryConfig missing{{{mainFile, "arg=x\nruntime=/s3cret.so\n"}}};
    missing.anyRuntimeExists = false;
    Parsed noRuntime(std::move(missing));
    ASSERT_FALSE(noRuntime.ok);
    EXPECT_NE(std::string(noRuntime.error.reason).find("s3cret"), std::string::npos);
    EXPECT_STREQ(noRuntime.error.plainReason, "runtime= names no regular file that can be reached");
}

// Builds the block for `text` and the command line `argv`, checks it with
// the launcher's check at its own address, and returns it (or null).
struct BuiltBlock {
    KivlLauncherData *record = nullptr;
    int32_t size = -1;
    ConfigError error{};

    BuiltBlock(const std::string &text, Strings argv) {
        std::vector<char *> pointers;
        for (std::string &arg : argv) {
            pointers.push_back(arg.data());
        }
        pointers.push_back(nullptr);
        MemoryConfig memory{{{"/app/lib/applauncher.cfg", text}}};
        ConfigSource source = memory.source();
        record = launchBlockFromConfig(&source, "/app/lib/applauncher.cfg", "/app",
                                       (int32_t)argv.size(), pointers.data(), &size, &error);
    }
    ~BuiltBlock() { free(record); }
    BuiltBlock(const BuiltBlock &) = delete;
    BuiltBlock &operator=(const BuiltBlock &) = delete;

    const char *check() const {
        return checkReceivedRecord((const unsigned char *)record, (uint64_t)size,
                                   (uint64_t)(uintptr_t)record);
    }
    Strings args() const { return Strings(record->args, record->args + record->argCount); }
};

TEST(LaunchBlock, PutsConfiguredArgumentsBeforeTheCommandLineAndANullAfterTheLast) {
    BuiltBlock block("runtime=rt.so\narg=-m\narg=$APPDIR/main\nenv=A=1\nenv=B=$APPDIR",
                     {"/app/bin/app", "--verbose", "", "two words"});
    ASSERT_NE(block.record, nullptr) << block.error.reason;
    EXPECT_EQ(block.check(), nullptr);
    EXPECT_STREQ(block.record->runtimeLibPath, "/app/lib/rt.so");
    EXPECT_EQ(block.args(), (Strings{"-m", "/app/main", "--verbose", "", "two words"}));
    EXPECT_EQ(block.record->args[5], nullptr);
    ASSERT_EQ(block.record->envCount, 2);
    EXPECT_STREQ(block.record->envNames[1], "B");
    EXPECT_STREQ(block.record->envValues[1], "/app");
    // Record, five argument pointers and the null, four variable pointers,
    // then the strings.
    EXPECT_EQ((char *)block.record->args, (char *)block.record + 40);
    EXPECT_EQ((char *)block.record->envNames, (char *)block.record + 40 + 6 * 8);
    EXPECT_EQ(block.record->runtimeLibPath, (char *)block.record + 40 + 10 * 8);
    EXPECT_EQ(block.size, 40 + 10 * 8 + 15 + 3 + 10 + 10 + 1 + 10 + 2 + 2 + 2 + 5);
}

TEST(LaunchBlock, EmptyRecordStillPointsEveryFieldIntoTheBlock) {
    BuiltBlock block("runtime=/rt.so", {"app"});
    ASSERT_NE(block.record, nullptr);
    EXPECT_EQ(block.check(), nullptr);
    EXPECT_EQ(block.size, 40 + 8 + 7);
    EXPECT_EQ(block.record->argCount, 0);
    EXPECT_EQ(block.record->args[0], nullptr);
    EXPECT_EQ(block.record->envCount, 0);
    for (void *field : {(void *)block.record->args, (void *)block.record->envNames,
                        (void *)block.record->envValues}) {
        ASSERT_NE(field, nullptr);
        EXPECT_GE((char *)field, (char *)block.record);
        EXPECT_LE((char *)field, (char *)block.record + block.size);
    }
}

TEST(LaunchBlock, SurvivesACopyAndRebaseToAnotherAddressWithItsNullEntry) {
    BuiltBlock block("runtime=/rt.so\narg=x\nenv=N=v", {"app", "y"});
    ASSERT_NE(block.record, nullptr);
    std::vector<uint64_t> copy((size_t)block.size / 8 + 1);
    memcpy(copy.data(), block.record, (size_t)block.size);
    auto *moved = (KivlLauncherData *)copy.data();
    rebaseRecord(moved, (intptr_t)((uintptr_t)moved - (uintptr_t)block.record));
    memset(block.record, 0, (size_t)block.size);
    EXPECT_STREQ(moved->runtimeLibPath, "/rt.so");
    EXPECT_STREQ(moved->args[0], "x");
    EXPECT_STREQ(moved->args[1], "y");
    EXPECT_EQ(moved->args[2], nullptr);
    EXPECT_STREQ(moved->envNames[0], "N");
    EXPECT_STREQ(moved->envValues[0], "v");
}

TEST(LaunchBlock, ACommandLineBeyondTheConfigurationsAllowanceStillMakesOneBlock) {
    std::string text = "runtime=/rt.so\n";
    for (int i = 0; i < 47; i++) {
        text += "arg=" + std::string(131072, 'c') + "\n";
    }
    Strings argv(65, std::string(131071, 'a'));
    BuiltBlock block(text, argv);
    ASSERT_NE(block.record, nullptr) << block.error.reason;
    EXPECT_EQ(block.check(), nullptr);
    EXPECT_EQ(block.record->argCount, 47 + 64);
    EXPECT_EQ(block.size, 40 + (47 + 64 + 1) * 8 + 7 + 47 * 131073 + 64 * 131072);
}

TEST(LaunchBlock, RefusesBuffersTooSmallAndSizesPastTwoGigabytes) {
    Parsed parsed("runtime=/rt.so\narg=a");
    ASSERT_TRUE(parsed.ok);
    char *argv[] = {(char *)"app", nullptr};
    int32_t size = launchBlockSize(&parsed.config, 1, argv);
    ASSERT_EQ(size, 40 + 16 + 7 + 2);
    std::vector<uint64_t> buffer(16);
    EXPECT_EQ(fillLaunchBlock(&parsed.config, 1, argv, buffer.data(), size - 1), nullptr);
    EXPECT_EQ(fillLaunchBlock(&parsed.config, 1, argv, nullptr, size), nullptr);
    EXPECT_NE(fillLaunchBlock(&parsed.config, 1, argv, buffer.data(), size), nullptr);
    EXPECT_EQ(launchBlockSize(&parsed.config, -5, argv), 40 + 16 + 7 + 2);

    // 40 arguments of 64 MiB each add up to more than a 32-bit size holds.
    std::string huge(64u << 20, 'x');
    std::vector<char *> many(41, huge.data());
    many[0] = argv[0];
    EXPECT_EQ(launchBlockSize(&parsed.config, 41, many.data()), 0);
    EXPECT_EQ(fillLaunchBlock(&parsed.config, 41, many.data(), buffer.data(), INT32_MAX),
              nullptr);
}

}  // namespace
