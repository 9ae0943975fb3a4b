// The reference library's lines on standard error: one write per line,
// control characters defused (the write itself is the quiet writer's,
// quiet_writer_test.cpp).
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "diagnostics.h"

namespace {

TEST(AuxDiagnostics, WritesOneWholeLineWithControlCharactersDefused) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    int savedError = dup(STDERR_FILENO);
    dup2(ends[1], STDERR_FILENO);
    writeLine("[7]: ", "config: [%s]", "a\nb\rc\x7f\td");
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    close(ends[1]);
    char text[64] = {};
    EXPECT_GT(read(ends[0], text, sizeof text - 1), 0);
    close(ends[0]);
    EXPECT_STREQ(text, "[7]: config: [a?b?c?\td]\n");
}

}  // namespace
