#include "app/state.h"
#include "port/port_record.h"
#include "tests/pixel_window.h"
#include "tests/test_support.h"
#include "view/paint.h"
#include "view/screen.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

static const int WindowWidth = PixelWindow::Width;

class Painting : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        LayoutLampRows();
    }
    void SetUp() override
    {
        ResetProgramState();
    }
    void TearDown() override
    {
        screen.Close();
        ResetProgramState();
    }

    void OpenWindow(int height)
    {
        window = screen.Open(height);
        ASSERT_NE(nullptr, window);
        ASSERT_EQ(height, screen.ClientHeight());
        port.window = window;
        port.clientWidth = WindowWidth;
        port.clientHeight = height;
    }

    COLORREF Pixel(int x, int y)
    {
        return screen.Pixel(x, y);
    }
    bool AllOf(COLORREF colour, int left, int top, int right, int bottom)
    {
        return screen.AllOf(colour, left, top, right, bottom);
    }
    int CountOf(COLORREF colour, int left, int top, int right, int bottom)
    {
        return screen.CountOf(colour, left, top, right, bottom);
    }
    std::vector<COLORREF> Area(int left, int top, int right, int bottom)
    {
        return screen.Area(left, top, right, bottom);
    }

    // The black pixels a label would give inside the lamp, drawn apart in
    // the window's own font: tells "CTS" from "cts".
    std::vector<bool> ExpectedLabel(const char* label, int left, int width)
    {
        HDC windowDc = GetDC(window);
        HDC memory = CreateCompatibleDC(windowDc);
        HBITMAP bitmap = CreateCompatibleBitmap(windowDc, WindowWidth, 20);
        HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
        HGDIOBJ oldFont = SelectObject(memory, GetCurrentObject(windowDc, OBJ_FONT));
        RECT all = {0, 0, WindowWidth, 20};
        FillRect(memory, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
        SetBkMode(memory, TRANSPARENT);
        SetTextColor(memory, Black);
        RECT box = {left, 1, left + width, 17};
        DrawTextA(memory, label, -1, &box, DT_CENTER);
        std::vector<bool> mask = LabelMaskOf(memory, left, width);
        SelectObject(memory, oldFont);
        SelectObject(memory, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, windowDc);
        return mask;
    }

    std::vector<bool> PaintedLabel(int left, int width)
    {
        HDC dc = GetDC(window);
        std::vector<bool> mask = LabelMaskOf(dc, left, width);
        ReleaseDC(window, dc);
        return mask;
    }

    // Inside the outline and clear of the rounded corners.
    static std::vector<bool> LabelMaskOf(HDC dc, int left, int width)
    {
        std::vector<bool> mask;
        for (int y = 2; y < 16; y++)
            for (int x = left + 3; x < left + width - 3; x++)
                mask.push_back(GetPixel(dc, x, y) == Black);
        return mask;
    }

    static int Ones(const std::vector<bool>& mask)
    {
        int n = 0;
        for (bool b : mask)
            n += b;
        return n;
    }

    COLORREF LampFill(int left)
    {
        return Pixel(left + 1, LampFillY);
    }

    void Write(const char* text)
    {
        AppendText(&port, text, 0);
    }

    int RowTop(int row) const
    {
        return 14 * row + 4;
    }

    PixelWindow screen;
    HWND window = nullptr;
    PortRecord port;
};

TEST(PaintLayout, SignalAndHoldRowsHaveTheirPositionsAndWidths)
{
    LayoutLampRows();
    const int signalX[] = {5, 37, 69, 91, 118, 150, 182};
    const int signalW[] = {30, 30, 20, 20, 30, 30, 40};
    const int holdX[] = {60, 92, 124, 146, 198, 250, 282};
    const int holdW[] = {30, 30, 20, 50, 50, 30, 40};
    for (int i = 0; i < LAMP_COUNT; i++) {
        EXPECT_EQ(signalX[i], SignalLampX[i]) << i;
        EXPECT_EQ(signalW[i], SignalLampWidth[i]) << i;
        EXPECT_EQ(holdX[i], HoldLampX[i]) << i;
        EXPECT_EQ(holdW[i], HoldLampWidth[i]) << i;
    }
    EXPECT_STREQ("", SignalRowLabels[LAMP_COUNT]);
    EXPECT_STREQ("", HoldRowLabels[LAMP_COUNT]);
}

TEST_F(Painting, LitSignalLampsAreGreenWithUpperCaseLabelsDarkOnesGreyAndLowerCase)
{
    OpenWindow(100);
    port.signalLampCount = 7;
    port.inputSignals = SIGNAL_CTS | SIGNAL_DSR;
    port.outputSignals = SIGNAL_DTR | SIGNAL_RTS;
    RedrawPort(&port, 0);

    const char* upper[] = {"CTS", "DSR", "CD", "RI", "RTS", "DTR", "LOOP"};
    const char* lower[] = {"cts", "dsr", "cd", "ri", "rts", "dtr", "loop"};
    const bool lit[] = {true, true, false, false, true, true, false};
    for (int i = 0; i < LAMP_COUNT; i++) {
        int left = SignalLampX[i];
        int right = left + SignalLampWidth[i];
        EXPECT_EQ(lit[i] ? LitGreen : DarkGrey, LampFill(left)) << upper[i];
        EXPECT_EQ(lit[i] ? LitGreen : DarkGrey, Pixel(right - 2, LampFillY)) << upper[i];
        // Black outline on all four sides, nothing outside the rectangle.
        EXPECT_EQ(Black, Pixel(left, 9)) << upper[i];
        EXPECT_EQ(Black, Pixel(right - 1, 9)) << upper[i];
        EXPECT_EQ(Black, Pixel(left + SignalLampWidth[i] / 2, 1)) << upper[i];
        EXPECT_EQ(Black, Pixel(left + SignalLampWidth[i] / 2, 16)) << upper[i];
        EXPECT_EQ(Background, Pixel(right, 9)) << upper[i];
        EXPECT_EQ(Background, Pixel(left + SignalLampWidth[i] / 2, 17)) << upper[i];
        // Rounded corners leave the very corner pixel untouched.
        EXPECT_EQ(Background, Pixel(left, 1)) << upper[i];

        std::vector<bool> painted = PaintedLabel(left, SignalLampWidth[i]);
        EXPECT_GT(Ones(painted), 5) << upper[i];
        EXPECT_EQ(ExpectedLabel(lit[i] ? upper[i] : lower[i], left, SignalLampWidth[i]), painted)
            << upper[i];
    }
    EXPECT_EQ(SIGNAL_CTS | SIGNAL_DSR, port.paintedInputSignals);
    EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS, port.paintedOutputSignals);
}

TEST_F(Painting, CdRiAndLoopLightFromTheirOwnBits)
{
    OpenWindow(100);
    port.signalLampCount = 7;
    port.inputSignals = SIGNAL_CD;
    port.outputSignals = SIGNAL_LOOP;
    RedrawPort(&port, 1);
    EXPECT_EQ(DarkGrey, LampFill(SignalLampX[0]));
    EXPECT_EQ(LitGreen, LampFill(SignalLampX[2])); // CD is 0x80, shown before RI
    EXPECT_EQ(DarkGrey, LampFill(SignalLampX[3]));
    EXPECT_EQ(DarkGrey, LampFill(SignalLampX[4]));
    EXPECT_EQ(DarkGrey, LampFill(SignalLampX[5]));
    EXPECT_EQ(LitGreen, LampFill(SignalLampX[6]));

    port.inputSignals = SIGNAL_RI;
    RedrawPort(&port, 0);
    EXPECT_EQ(DarkGrey, LampFill(SignalLampX[2]));
    EXPECT_EQ(LitGreen, LampFill(SignalLampX[3]));
}

TEST_F(Painting, SixLampPortNeverPaintsTheLoopLamp)
{
    OpenWindow(100);
    port.signalLampCount = 6;
    port.outputSignals = SIGNAL_LOOP | SIGNAL_DTR;
    RedrawPort(&port, 1);
    EXPECT_EQ(LitGreen, LampFill(SignalLampX[5]));
    EXPECT_TRUE(AllOf(Background, 182, 0, 223, 18));
}

TEST_F(Painting, HoldWordShowsOnlyHeldLampsAndZeroBlanksTheBand)
{
    OpenWindow(100);
    port.inputSignals = 0;
    RedrawPort(&port, 1); // the band is white with no hold
    EXPECT_TRUE(AllOf(White, 240, 1, 562, 17));
    EXPECT_EQ(Background, Pixel(562, 9));
    EXPECT_EQ(Background, Pixel(239, 9));

    port.lineStatus.fXoffHold = 1; // 0x08
    port.lineStatus.fTxim = 1;     // 0x40
    ASSERT_EQ(0x48u, HoldFlags(port.lineStatus));
    RedrawPort(&port, 0);
    EXPECT_EQ(0x48u, port.paintedStatus.holdFlags);

    const int xoffh = 240 + 146, txim = 240 + 282;
    EXPECT_EQ(HoldBlue, LampFill(xoffh));
    EXPECT_EQ(HoldBlue, Pixel(xoffh + 48, LampFillY));
    EXPECT_EQ(Black, Pixel(xoffh, 9));
    EXPECT_EQ(HoldBlue, LampFill(txim));
    EXPECT_EQ(Black, Pixel(txim + 39, 9));
    EXPECT_EQ(ExpectedLabel("xoffh", xoffh, 50), PaintedLabel(xoffh, 50));
    EXPECT_EQ(ExpectedLabel("txim", txim, 40), PaintedLabel(txim, 40));
    // The other holds are plain white band.
    EXPECT_TRUE(AllOf(White, 240, 1, 386, 17));
    EXPECT_TRUE(AllOf(White, 436, 1, 522, 17));
    EXPECT_EQ(0, CountOf(HoldBlue, 0, 0, 240, 18));

    memset(&port.lineStatus, 0, sizeof port.lineStatus);
    RedrawPort(&port, 0);
    EXPECT_TRUE(AllOf(White, 240, 1, 562, 17));
    EXPECT_EQ(0u, port.paintedStatus.holdFlags);
}

TEST_F(Painting, EveryHoldBitHasItsLamp)
{
    OpenWindow(100);
    const int left[] = {300, 332, 364, 386, 438, 490, 522};
    for (int bit = 0; bit < LAMP_COUNT; bit++) {
        memset(&port.lineStatus, 0, sizeof port.lineStatus);
        DWORD word = 1u << bit;
        memcpy(&port.lineStatus, &word, sizeof word);
        RedrawPort(&port, 0);
        EXPECT_EQ(HoldBlue, LampFill(left[bit])) << bit;
        for (int other = 0; other < LAMP_COUNT; other++) {
            if (other != bit) {
                EXPECT_EQ(White, LampFill(left[other])) << bit << " " << other;
            }
        }
    }
}

TEST_F(Painting, UnchangedLampsAreNotRepaintedAndChangedOnesAre)
{
    OpenWindow(100);
    RedrawPort(&port, 1);
    // Scribble over the lamp strip; an unchanged port leaves it as it is.
    screen.Scribble(0, 0, WindowWidth, 18);
    RedrawPort(&port, 0);
    EXPECT_TRUE(AllOf(Background, 0, 0, WindowWidth, 18));

    port.inputSignals = SIGNAL_CTS;
    RedrawPort(&port, 0);
    EXPECT_EQ(LitGreen, LampFill(SignalLampX[0]));
    EXPECT_EQ(Background, Pixel(300 + 1, 9)); // the hold row did not change

    // A queue-count change alone does not repaint the hold row.
    port.lineStatus.cbInQue = 7;
    RedrawPort(&port, 0);
    EXPECT_EQ(Background, Pixel(300 + 1, 9));
}

TEST_F(Painting, WindowBelow28PixelsPaintsNothingAndKeepsItsPendingChanges)
{
    OpenWindow(27);
    Write("pending");
    port.lineStatus.fTxim = 1;
    RedrawPort(&port, 1);
    EXPECT_TRUE(AllOf(Background, 0, 0, WindowWidth, 27));
    EXPECT_EQ(255, port.paintedInputSignals);
    EXPECT_EQ(255, port.paintedOutputSignals);
    EXPECT_EQ(0u, port.paintedStatus.holdFlags);
    EXPECT_EQ(1, port.lines[0].dirty);

    port.clientHeight = 13;
    RedrawPort(&port, 1);
    EXPECT_TRUE(AllOf(Background, 0, 0, WindowWidth, 27));
    EXPECT_EQ(255, port.paintedInputSignals);
}

TEST_F(Painting, Window28PixelsHighPaintsLampsAndOneRowWithTheCurrentLine)
{
    OpenWindow(28);
    Write("older\r\n");
    Write("HHHH");
    RedrawPort(&port, 1);
    EXPECT_EQ(DarkGrey, LampFill(SignalLampX[0]));
    EXPECT_EQ(LitGreen, LampFill(SignalLampX[4]));
    EXPECT_TRUE(AllOf(White, 240, 1, 562, 17));
    // Row 1 starts at y 18, with a white band from x 10 and text in it.
    EXPECT_EQ(White, Pixel(10, 18));
    EXPECT_EQ(White, Pixel(WindowWidth - 1, 27));
    EXPECT_EQ(Background, Pixel(9, 20));
    EXPECT_GT(CountOf(Black, 10, 18, 60, 28), 5);
    EXPECT_EQ(0, port.lines[1].dirty);
    EXPECT_EQ(1, port.lines[0].dirty); // not on screen, not painted
}

TEST_F(Painting, TextRowsMoveUpOneRowAfterALineFeed)
{
    OpenWindow(14 * 5 + 10); // rows 1 to 4, the bottom one whole
    Write("first line\r\nsecond line");
    RedrawPort(&port, 1);
    const int rows = 4;
    std::vector<COLORREF> bottom = Area(10, RowTop(rows) + 2, 200, RowTop(rows) + 14);
    std::vector<COLORREF> above = Area(10, RowTop(rows - 1) + 2, 200, RowTop(rows - 1) + 14);
    ASSERT_NE(bottom, above);
    EXPECT_TRUE(AllOf(White, 10, RowTop(1), 200, RowTop(2)));

    Write("\r\n");
    RedrawPort(&port, 0);
    EXPECT_EQ(port.currentLine, port.paintedLine);
    EXPECT_EQ(bottom, Area(10, RowTop(rows - 1) + 2, 200, RowTop(rows - 1) + 14));
    EXPECT_EQ(above, Area(10, RowTop(rows - 2) + 2, 200, RowTop(rows - 2) + 14));
    EXPECT_TRUE(AllOf(White, 10, RowTop(rows), 200, RowTop(rows) + 10));
}

TEST_F(Painting, OnlyDirtyLinesAreRepaintedWhileTheCurrentLineStays)
{
    OpenWindow(14 * 5);
    Write("one\r\ntwo");
    RedrawPort(&port, 1);
    screen.Scribble(0, 18, WindowWidth, 14 * 5);

    Write("!"); // dirties only the current line
    RedrawPort(&port, 0);
    EXPECT_EQ(White, Pixel(WindowWidth - 1, RowTop(4) + 5));
    EXPECT_EQ(Background, Pixel(WindowWidth - 1, RowTop(3) + 5));
    EXPECT_EQ(Background, Pixel(WindowWidth - 1, RowTop(1) + 5));
    EXPECT_EQ(0, port.lines[1].dirty);
}

TEST_F(Painting, ForcedRepaintOfAnEmptyRingPaintsWhiteRowsWithoutText)
{
    OpenWindow(14 * 6);
    RedrawPort(&port, 1);
    EXPECT_TRUE(AllOf(White, 10, 18, WindowWidth, 14 * 6));
    EXPECT_TRUE(AllOf(Background, 0, 18, 10, 14 * 6));
}

TEST_F(Painting, ClearScreenLeavesOnlyWhiteRows)
{
    OpenWindow(14 * 6);
    for (int i = 0; i < 20; i++)
        Write("some text on a line\r\n");
    Write("last");
    ASSERT_EQ(20, port.currentLine);
    RedrawPort(&port, 1);
    ASSERT_GT(CountOf(Black, 10, 18, 200, 14 * 6), 20);

    ClearScreen(&port);
    EXPECT_EQ(0, port.currentLine);
    EXPECT_EQ(0, port.currentColumn);
    for (const ScreenLine& l : port.lines)
        EXPECT_EQ(0, l.text[0]);
    EXPECT_TRUE(AllOf(White, 10, 18, WindowWidth, 14 * 6));
}

TEST_F(Painting, RowsAboveTheThirtyFifthStayBlankInATallWindow)
{
    const int rows = 37;
    OpenWindow(14 * (rows + 1));
    for (int i = 0; i < SCREEN_LINES - 1; i++)
        Write("XXXXXXXX\r\n");
    Write("XXXXXXXX");
    RedrawPort(&port, 1);
    // Rows 1 and 2 are beyond the ring; row 3 shows its oldest line.
    EXPECT_TRUE(AllOf(White, 10, RowTop(1), 200, RowTop(3)));
    EXPECT_GT(CountOf(Black, 10, RowTop(3), 200, RowTop(4)), 5);
    for (const ScreenLine& l : port.lines)
        EXPECT_EQ(0, l.dirty);
}

TEST_F(Painting, ARecordWithoutAWindowIsNotPainted)
{
    port.clientHeight = 100;
    RedrawPort(&port, 1);
    EXPECT_EQ(255, port.paintedInputSignals);
}
