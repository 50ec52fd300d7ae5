#include "app/state.h"
#include "port/port_record.h"
#include "tests/pixel_window.h"
#include "tests/test_support.h"
#include "view/paint.h"
#include "view/screen.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <stdio.h>
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

TEST_F(Painting, TextBelowTheBottomRowGoesWhenItsLineMovesUp)
{
    OpenWindow(14 * 5 + 10); // 10 pixels of client below the bottom row's band
    Write("gjpqy gjpqy gjpqy");
    RedrawPort(&port, 1);
    const int below = RowTop(4) + 14;
    ASSERT_LT(below, screen.ClientHeight());
    // The bottom row's descenders reach below its band...
    ASSERT_FALSE(AllOf(White, 10, below, 200, below + 3));

    Write("\r\n");
    RedrawPort(&port, 0);
    // ...and do not stay behind under the new, empty bottom row (whose top
    // two lines hold the descenders of the row above).
    EXPECT_TRUE(AllOf(White, 10, RowTop(4) + 2, 200, screen.ClientHeight()));
}

TEST_F(Painting, ALineWiderThanTheWindowShowsAsTheWholeLineClipped)
{
    OpenWindow(14 * 3);
    std::string line;
    for (int i = 0; i < 79; i++) // far wider than the window, and no wrap
        line += (char)('A' + i % 26);
    Write(line.c_str());
    RedrawPort(&port, 1);
    const int top = RowTop(2);
    std::vector<COLORREF> painted = Area(0, top, WindowWidth, top + 14);

    HDC dc = GetDC(window);
    RECT band = {10, top, 1600, top + 14};
    FillRect(dc, &band, (HBRUSH)GetStockObject(WHITE_BRUSH));
    TextOutA(dc, 10, top, line.c_str(), (int)line.size());
    ReleaseDC(window, dc);
    EXPECT_EQ(Area(0, top, WindowWidth, top + 14), painted);
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

// --- Moving the ring on ---

class MovedRing : public Painting
{
  protected:
    // The text rows as shown, read in one copy of the window; with `bottom`,
    // down to that line rather than to the bottom row's band.
    std::vector<DWORD> TextArea(int rows, int bottom = 0)
    {
        int height = (bottom ? bottom : RowTop(rows) + 14) - 18;
        HDC dc = GetDC(window);
        HDC memory = CreateCompatibleDC(dc);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = WindowWidth;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, WindowWidth, height, dc, 0, 18, SRCCOPY);
        GdiFlush();
        std::vector<DWORD> pixels((DWORD*)bits, (DWORD*)bits + WindowWidth * height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, dc);
        return pixels;
    }

    // Paints incrementally, then checks the result against a full repaint.
    void ExpectIncrementalEqualsForced(int rows)
    {
        RedrawPort(&port, 0);
        EXPECT_EQ(port.currentLine, port.paintedLine);
        std::vector<DWORD> painted = TextArea(rows);
        RedrawPort(&port, 1);
        std::vector<DWORD> forced = TextArea(rows);
        ASSERT_EQ(forced.size(), painted.size());
        int differing = 0;
        for (size_t i = 0; i < forced.size(); i++)
            differing += forced[i] != painted[i];
        EXPECT_EQ(0, differing);
        EXPECT_GT(std::count(forced.begin(), forced.end(), 0u), 50);
    }

    // Descenders reach below a row's band into the next one.
    void WriteLines(int count, const char* tag)
    {
        for (int i = 0; i < count; i++) {
            char text[96];
            snprintf(text, sizeof text, "\r\n%s %d: jumpy quail gypsy jig, pyg Qq Jj yy gg", tag,
                     i);
            Write(text);
        }
    }
};

TEST_F(MovedRing, SeveralLineFeedsWithTextLookLikeAFullRepaint)
{
    const int rows = 11;
    OpenWindow(14 * (rows + 1));
    WriteLines(20, "before");
    RedrawPort(&port, 1);
    WriteLines(3, "after");
    Write("partial current line gjpqy");
    ExpectIncrementalEqualsForced(rows);
    WriteLines(1, "one more");
    ExpectIncrementalEqualsForced(rows);
}

TEST_F(MovedRing, ModifiedLinesAboveAreRepaintedInTheirNewRows)
{
    const int rows = 11;
    OpenWindow(14 * (rows + 1));
    WriteLines(15, "before");
    Write(" and more");
    RedrawPort(&port, 1);
    Write(" then the current line grows ggg"); // becomes a line above
    int older = (port.currentLine + SCREEN_LINES - 4) % SCREEN_LINES;
    strcpy(port.lines[older].text, "rewritten yyyy");
    port.lines[older].dirty = 1;
    WriteLines(2, "after");
    ExpectIncrementalEqualsForced(rows);
}

TEST_F(MovedRing, MoreLinesThanTheRingHoldsRepaintEveryRow)
{
    const int rows = 11;
    OpenWindow(14 * (rows + 1));
    WriteLines(10, "before");
    RedrawPort(&port, 1);
    WriteLines(SCREEN_LINES + 2, "after"); // 37 lines: the ring looks moved by 2
    ExpectIncrementalEqualsForced(rows);
    WriteLines(rows + 1, "again"); // more than the rows shown
    ExpectIncrementalEqualsForced(rows);
}

TEST_F(MovedRing, TallWindowMovesOnlyTheRingRows)
{
    const int rows = 37;
    OpenWindow(14 * (rows + 1));
    WriteLines(40, "before");
    RedrawPort(&port, 1);
    WriteLines(4, "after");
    ExpectIncrementalEqualsForced(rows);
    EXPECT_TRUE(AllOf(White, 10, RowTop(1), 200, RowTop(3)));
}

TEST_F(MovedRing, RowsMovedFromUnderACoveringWindowAreRepainted)
{
    const int rows = 11;
    OpenWindow(14 * (rows + 1));
    WriteLines(20, "before");
    RedrawPort(&port, 1);
    RECT frame;
    GetWindowRect(window, &frame);
    // Covers rows 5 to 7 across the whole width.
    HWND cover = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, frame.left,
                                 frame.top + RowTop(5), WindowWidth, 14 * 3, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, cover);
    PixelWindow::Pump();
    WriteLines(2, "after");
    RedrawPort(&port, 0);
    // Rows 3 and 4 now hold lines that were under the cover.
    std::vector<DWORD> painted = TextArea(rows);
    RedrawPort(&port, 1);
    std::vector<DWORD> forced = TextArea(rows);
    DestroyWindow(cover);
    PixelWindow::Pump();
    int top = RowTop(5) - 18, bottom = RowTop(8) - 18;
    int differing = 0;
    for (int y = 0; y < (int)forced.size() / WindowWidth; y++)
        for (int x = 0; x < WindowWidth; x++)
            if ((y < top || y >= bottom) &&
                forced[y * WindowWidth + x] != painted[y * WindowWidth + x])
                differing++;
    EXPECT_EQ(0, differing);
}

// --- The same pixels as row-by-row painting ---

// Row-by-row painting as it was before rows were painted in runs: each row
// selects the white pen and brush, fills its own band, asks for the clip box
// and the text's extent, and writes its text, from the bottom row up.
namespace RowByRow
{
int RowTop(int row)
{
    return 14 * row + 4;
}

void DrawRowText(HDC surface, int top, const char* text, int length)
{
    RECT visible;
    int shown = GetClipBox(surface, &visible);
    if (shown == NULLREGION || (shown != ERROR && visible.right <= 10))
        return;
    if (shown != ERROR) {
        int fit = 0;
        SIZE extent;
        if (GetTextExtentExPointA(surface, text, length, visible.right - 10, &fit, nullptr,
                                  &extent) &&
            fit + 1 < length)
            length = fit + 1;
    }
    TextOutA(surface, 10, top, text, length);
}

void PaintTextRow(HDC surface, int row, const char* text, int bottom)
{
    int top = RowTop(row);
    SelectObject(surface, GetStockObject(WHITE_PEN));
    SelectObject(surface, GetStockObject(WHITE_BRUSH));
    Rectangle(surface, 10, top, 1600, bottom > top + 14 ? bottom : top + 14);
    int length = text ? (int)strlen(text) : 0;
    if (length > 0)
        DrawRowText(surface, top, text, length);
}

// Text rows only, with the ring standing still.
void PaintTextRows(PortRecord* port, int forced)
{
    int rows = port->clientHeight / 14 - 1;
    HDC surface = GetDC(port->window);
    SetBkMode(surface, TRANSPARENT);
    SetTextColor(surface, RGB(0, 0, 0));
    int line = port->currentLine;
    for (int row = rows, walked = 0; row >= 1; row--, walked++) {
        if (walked >= SCREEN_LINES) {
            if (forced)
                PaintTextRow(surface, row, nullptr, 0);
            continue;
        }
        ScreenLine& screenLine = port->lines[line];
        if (screenLine.dirty || forced) {
            screenLine.dirty = 0;
            PaintTextRow(surface, row, screenLine.text, row == rows ? port->clientHeight : 0);
        }
        line = line == 0 ? SCREEN_LINES - 1 : line - 1;
    }
    ReleaseDC(port->window, surface);
}
} // namespace RowByRow

class PaintedInRuns : public MovedRing
{
  protected:
    // Every row different, with descenders, wide and narrow letters and
    // lines wider than the window.
    void FillRing(int lines)
    {
        for (int i = 0; i < lines; i++) {
            std::string text = "\r\n";
            for (int j = 0; j <= (i * 7) % 80; j++)
                text += "gjpqyWMil|_,QJ"[(i + j) % 14];
            Write(text.c_str());
        }
        Write("current gjpqy");
    }

    std::vector<DWORD> WholeTextArea()
    {
        return TextArea(0, port.clientHeight);
    }

    // Wipes the text rows so nothing left from before can hide a difference.
    void Wipe()
    {
        screen.Scribble(0, 18, WindowWidth, port.clientHeight);
    }

    static int Differing(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
    {
        if (a.size() != b.size())
            return -1;
        int n = 0;
        for (size_t i = 0; i < a.size(); i++)
            n += a[i] != b[i];
        return n;
    }

    // Narrows what the window shows to its left `right` pixels; the
    // window's own surface keeps the clip between calls.
    void ClipRight(int right)
    {
        HDC dc = GetDC(window);
        SelectClipRgn(dc, nullptr);
        if (right > 0)
            IntersectClipRect(dc, 0, 0, right, port.clientHeight);
        ReleaseDC(window, dc);
        dc = GetDC(window);
        RECT box;
        GetClipBox(dc, &box);
        ReleaseDC(window, dc);
        EXPECT_EQ(right > 0 ? right : WindowWidth, box.right);
    }

    void ExpectForcedRepaintAsRowByRow()
    {
        Wipe();
        RedrawPort(&port, 1);
        std::vector<DWORD> runs = WholeTextArea();
        Wipe();
        RowByRow::PaintTextRows(&port, 1);
        std::vector<DWORD> rowByRow = WholeTextArea();
        EXPECT_EQ(0, Differing(rowByRow, runs));
        EXPECT_GT(std::count(runs.begin(), runs.end(), 0u), 50);
    }
};

TEST_F(PaintedInRuns, ForcedRepaintOfDescenderRichRowsIsPixelForPixelTheRowByRowOne)
{
    OpenWindow(14 * 12 + 9); // 11 rows and 9 pixels below the bottom band
    FillRing(30);
    ExpectForcedRepaintAsRowByRow();
}

TEST_F(PaintedInRuns, TallWindowWithBlankRowsAboveTheRingIsAsRowByRow)
{
    OpenWindow(14 * 39 + 5);
    FillRing(40);
    ExpectForcedRepaintAsRowByRow();
}

TEST_F(PaintedInRuns, RowsCutAtAnyRightEdgeShowWhatRowByRowPaintingShows)
{
    OpenWindow(14 * 8);
    FillRing(12);
    // Edges inside letters, between them, at the text's left and beyond it.
    for (int right : {9, 10, 11, 13, 17, 31, 58, 77, 150, 151, 333, 500}) {
        ClipRight(right);
        Wipe();
        RedrawPort(&port, 1);
        std::vector<DWORD> runs = WholeTextArea();
        Wipe();
        RowByRow::PaintTextRows(&port, 1);
        EXPECT_EQ(0, Differing(WholeTextArea(), runs)) << "right edge " << right;
    }
    ClipRight(0);
}

TEST_F(PaintedInRuns, ScatteredDirtyRowsRepaintAsRowByRow)
{
    OpenWindow(14 * 12);
    FillRing(20);
    const int rows = 11;
    auto dirtyScattered = [&]() {
        for (int age : {0, 2, 3, 4, 7, 10}) {
            ScreenLine& line = port.lines[(port.currentLine - age + SCREEN_LINES) % SCREEN_LINES];
            snprintf(line.text, sizeof line.text, "changed %d gjpqy QJ __ ||", age);
            line.dirty = 1;
        }
    };
    // Both start from the same pixels: text that reaches left of the bands
    // is never wiped, so it darkens with every repaint.
    std::vector<ScreenLine> saved(port.lines, port.lines + SCREEN_LINES);
    Wipe();
    RedrawPort(&port, 1);
    dirtyScattered();
    RedrawPort(&port, 0);
    std::vector<DWORD> runs = TextArea(rows);
    for (int age = 0; age < rows; age++)
        EXPECT_EQ(0, port.lines[(port.currentLine - age + SCREEN_LINES) % SCREEN_LINES].dirty);

    std::copy(saved.begin(), saved.end(), port.lines);
    Wipe();
    RedrawPort(&port, 1);
    dirtyScattered();
    RowByRow::PaintTextRows(&port, 0);
    EXPECT_EQ(0, Differing(TextArea(rows), runs));
}
