#include "app/state.h"
#include "port/port_record.h"
#include "tests/test_support.h"
#include "view/screen.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>

class ScreenRing : public testing::Test
{
  protected:
    void SetUp() override
    {
        ResetProgramState();
    }
    void TearDown() override
    {
        ResetProgramState();
    }
    std::string Line(int i) const
    {
        return port.lines[i].text;
    }
    void Clean()
    {
        for (ScreenLine& l : port.lines)
            l.dirty = 0;
        port.windowDirty = 0;
    }
    PortRecord port;
};

TEST_F(ScreenRing, LettersThenCrLfLeaveLettersAndAnEmptyCurrentLine)
{
    AppendText(&port, "abc\r\n", 0);
    EXPECT_EQ("abc", Line(0));
    EXPECT_EQ("", Line(1));
    EXPECT_EQ(1, port.currentLine);
    EXPECT_EQ(0, port.currentColumn);
    EXPECT_TRUE(port.lines[0].dirty && port.lines[1].dirty);
    EXPECT_EQ(1, port.windowDirty);
}

TEST_F(ScreenRing, ShowCrLfWritesMarkersWithLfFirstOnTheNewLine)
{
    ShowCrLf = 1;
    AppendText(&port, "abc\r\n", 0);
    EXPECT_EQ("abc<CR>", Line(0));
    EXPECT_EQ("<LF>", Line(1));
    EXPECT_EQ(4, port.currentColumn);
}

TEST_F(ScreenRing, CarriageReturnCutsOldTextAtTheNextStoredCharacter)
{
    AppendText(&port, "abcde\r", 0);
    EXPECT_EQ("abcde", Line(0)); // not erased by the CR itself
    AppendText(&port, "xy", 0);
    EXPECT_EQ("xy", Line(0));
}

TEST_F(ScreenRing, EightyBytesWrapWithoutMarkerThenLfLeavesAnEmptyLine)
{
    std::string eighty(80, 'a');
    AppendText(&port, eighty.c_str(), 80);
    EXPECT_EQ(eighty, Line(0));
    EXPECT_EQ(1, port.currentLine);
    AppendText(&port, "\n", 1);
    EXPECT_EQ("", Line(1));
    EXPECT_EQ(2, port.currentLine);
    EXPECT_EQ(0, port.currentColumn);
}

TEST_F(ScreenRing, LineFeedOnTheLastLineWrapsToLineZeroAndErasesIt)
{
    AppendText(&port, "old", 0);
    for (int i = 0; i < 34; i++)
        AppendText(&port, "\n", 1);
    ASSERT_EQ(34, port.currentLine);
    AppendText(&port, "last", 0);
    Clean();
    AppendText(&port, "\n", 1);
    EXPECT_EQ(0, port.currentLine);
    EXPECT_EQ("", Line(0));
    EXPECT_EQ(1, port.lines[0].dirty);
    EXPECT_EQ("last", Line(34));
}

TEST_F(ScreenRing, MarkerStartedAtColumn78ContinuesOnTheNextLine)
{
    std::string text(78, 'a');
    text += '\x1b';
    AppendText(&port, text.c_str(), (int)text.size());
    EXPECT_EQ(std::string(78, 'a') + "<1", Line(0));
    EXPECT_EQ("bH>", Line(1));
    EXPECT_EQ(3, port.currentColumn);
}

TEST_F(ScreenRing, EscapingBoundaries)
{
    const unsigned char bytes[] = {0x1F, 0x20, 0x7F, 0x80, 0x81, 0xFF, 0x00, 0x09, 0x1B};
    AppendText(&port, bytes, sizeof bytes);
    EXPECT_EQ("<1fH> \x7f\x80<81H><ffH><0H><9H><1bH>", Line(0));
}

TEST_F(ScreenRing, CountZeroStopsAtTheFirstNul)
{
    AppendText(&port, "ab\0cd", 0);
    EXPECT_EQ("ab", Line(0));
}

TEST_F(ScreenRing, NullPortOrTextChangesNothing)
{
    AppendText(nullptr, "abc", 0);
    AppendText(&port, nullptr, 3);
    EXPECT_EQ(0, port.windowDirty);
    EXPECT_EQ("", Line(0));
}

TEST_F(ScreenRing, NegativeCountTakesNothingButMarksTheWindow)
{
    AppendText(&port, "abc", -1);
    EXPECT_EQ("", Line(0));
    EXPECT_EQ(1, port.windowDirty);
}

TEST_F(ScreenRing, ScreenNeverHoldsControlBytesAfterRandomData)
{
    unsigned seed = 12345;
    unsigned char chunk[997];
    for (int round = 0; round < 200; round++) {
        for (unsigned char& b : chunk) {
            seed = seed * 1103515245u + 12345u;
            b = (unsigned char)(seed >> 16);
        }
        AppendText(&port, chunk, sizeof chunk);
    }
    for (const ScreenLine& l : port.lines) {
        size_t n = strlen(l.text);
        ASSERT_LE(n, 80u);
        for (size_t i = 0; i < n; i++) {
            unsigned char c = (unsigned char)l.text[i];
            ASSERT_TRUE(c >= 0x20 && c <= 0x80) << (int)c;
        }
    }
    EXPECT_GE(port.currentLine, 0);
    EXPECT_LT(port.currentLine, 35);
    EXPECT_LT(port.currentColumn, 80);
}

TEST_F(ScreenRing, EveryEscapedByteReadsAsItsHexValue)
{
    for (int value = 0; value < 256; value++) {
        if (value == '\n' || value == '\r' || (value >= 0x20 && value <= 0x80))
            continue;
        unsigned char byte = (unsigned char)value;
        AppendText(&port, "\n", 1);
        AppendText(&port, &byte, 1);
        char expected[8];
        snprintf(expected, sizeof expected, "<%xH>", value);
        EXPECT_EQ(expected, Line(port.currentLine)) << "byte " << value;
    }
}
