// text_buffer_test.cpp -- bounded appends into the fixed text buffers and the failure lines
#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "app/state.h"
#include "app/text_buffer.h"

namespace
{

TEST(TextBuffer, AppendCutsAtTheEndAndStaysTerminated)
{
    char buffer[8] = "abc";
    append_text(buffer, sizeof buffer, "de");
    EXPECT_STREQ(buffer, "abcde");
    append_text(buffer, sizeof buffer, "fghij");
    EXPECT_STREQ(buffer, "abcdefg");
    append_text(buffer, sizeof buffer, "x");
    EXPECT_STREQ(buffer, "abcdefg");
}

TEST(TextBuffer, UnterminatedBufferIsTerminatedAtItsLastByte)
{
    char buffer[4];
    memset(buffer, 'z', sizeof buffer);
    append_text(buffer, sizeof buffer, "q");
    EXPECT_EQ(std::string(buffer, 4), std::string("zzz\0", 4));
}

TEST(TextBuffer, CopyReplacesAndCuts)
{
    char buffer[5] = "old";
    copy_text(buffer, sizeof buffer, "newer text");
    EXPECT_STREQ(buffer, "newe");
    copy_text(buffer, sizeof buffer, "");
    EXPECT_STREQ(buffer, "");
}

TEST(Details, FailureLinesCarryNameAndLowerCaseHexCode)
{
    details_text[0] = '\0';
    append_failure_line("Can't Load Resource: %s [%x]\n", "main.bin", 0x1AB5);
    append_failure_line("Corrupt Patch File: %s Not Found! [%x]\n", "patch_notes.txt", 0);
    EXPECT_STREQ(details_text,
                 "Can't Load Resource: main.bin [1ab5]\nCorrupt Patch File: patch_notes.txt Not Found! [0]\n");
}

TEST(Details, ManyEntriesFillTheBufferWithoutOverflow)
{
    const char *format = "Corrupt Patch File: %s Not Found! [%x]\n";
    std::string name(300, 'n'), expected;
    details_text[0] = '\0';
    for (int i = 0; i < 20; ++i) {
        append_failure_line(format, name.c_str(), 0xdeadbeef);
        expected += "Corrupt Patch File: " + name + " Not Found! [deadbeef]\n";
    }
    EXPECT_EQ(std::string(details_text), expected.substr(0, sizeof details_text - 1));

    // A line longer than scratch_path is cut there first.
    std::string long_name(2000, 'x');
    details_text[0] = '\0';
    append_failure_line(format, long_name.c_str(), 1);
    EXPECT_EQ(strlen(details_text), sizeof scratch_path - 1);
    details_text[0] = '\0';
}

} // namespace
