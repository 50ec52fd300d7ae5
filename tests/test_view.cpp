// The screen ring and the painting of lamps and text rows.
#include "port/screen_text.h"
#include "tests/support.h"
#include "view/paint.h"

#include <algorithm>
#include <new>
#include <stdio.h>
#include <string.h>

static const COLORREF Green = LIT_SIGNAL_COLOUR, Grey = DARK_LAMP_COLOUR, Blue = HOLD_COLOUR,
                      White = RGB(255, 255, 255), Black = 0;

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
    PortRecord port;
};

TEST_F(ScreenRing, AppendedTextLinesAndMarkers)
{
    const std::string eighty(80, 'a'), seventyEight(78, 'a');
    const struct {
        int showCrLf;
        std::string in;
        Texts lines;
        int line, column;
    } cases[] = {
        {0, "abc\r\n", {"abc", ""}, 1, 0},
        {1, "abc\r\n", {"abc<CR>", "<LF>"}, 1, 4},
        {0, "abcde\rxy", {"xy"}, 0, 2},
        {0, "abcde\r", {"abcde"}, 0, 0},
        {0, eighty + "\n", {eighty, ""}, 2, 0},
        {0, seventyEight + "\x1b", {seventyEight + "<1", "bH>"}, 1, 3},
        {0,
         std::string("\x1f\x20\x7f\x80\x81\xff\0\x09\x1b", 9),
         {"<1fH> \x7f\x80<81H><ffH><0H><9H><1bH>"},
         0,
         31},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        PortRecord p;
        ShowCrLf = c.showCrLf;
        AppendText(&p, c.in.data(), (int)c.in.size());
        for (size_t i = 0; i < c.lines.size(); i++) {
            EXPECT_EQ(c.lines[i], p.lines[i].text);
            EXPECT_EQ(1, p.lines[i].dirty);
        }
        EXPECT_EQ(c.line, p.currentLine);
        EXPECT_EQ(c.column, p.currentColumn);
        EXPECT_EQ(1, p.windowDirty);
    }
}

TEST_F(ScreenRing, CountsWrapAndEveryEscapedByte)
{
    AppendText(nullptr, "abc", 0);
    AppendText(&port, nullptr, 3);
    EXPECT_EQ(0, port.windowDirty);
    AppendText(&port, "abc", -1); // nothing taken, but the window is marked
    EXPECT_EQ(1, port.windowDirty);
    AppendText(&port, "ab\0cd", 0); // count 0: up to the first NUL
    EXPECT_STREQ("ab", port.lines[0].text);

    AppendText(&port, "old", 0);
    for (int i = 0; i < 34; i++)
        AppendText(&port, "\n", 1);
    AppendText(&port, "last", 0);
    port.lines[0].dirty = 0;
    AppendText(&port, "\n", 1);
    EXPECT_EQ(0, port.currentLine);
    EXPECT_STREQ("", port.lines[0].text);
    EXPECT_EQ(1, port.lines[0].dirty);
    EXPECT_STREQ("last", port.lines[34].text);

    for (int value = 0; value < 256; value++) {
        if (value == '\n' || value == '\r' || (value >= 0x20 && value <= 0x80))
            continue;
        unsigned char byte = (unsigned char)value;
        AppendText(&port, "\n", 1);
        AppendText(&port, &byte, 1);
        char expected[8];
        snprintf(expected, sizeof expected, "<%xH>", value);
        EXPECT_STREQ(expected, port.lines[port.currentLine].text) << value;
    }
}

// --- painting ---

class Paint : public ScreenRing
{
  protected:
    static void SetUpTestSuite()
    {
        LayoutLampRows();
    }
    void TearDown() override
    {
        if (port.window)
            DestroyWindow(port.window);
        PumpMessages();
        ScreenRing::TearDown();
    }
    void Show(int height)
    {
        if (port.window)
            DestroyWindow(port.window);
        port.window = OpenPlainWindow(height);
        port.clientWidth = 640;
        port.clientHeight = height;
    }
    COLORREF Fill(int left)
    {
        return PixelAt(port.window, left + 1, 14);
    }
    // Whether a lamp's label reads `text`: the same black pixels as the text
    // drawn apart in the window's font, below the lamps.
    bool LabelReads(const char* text, int left, int width)
    {
        HDC dc = GetDC(port.window);
        RECT band = {0, 40, 640, 58}, box = {left, 41, left + width, 57};
        FillRect(dc, &band, (HBRUSH)GetStockObject(WHITE_BRUSH));
        DrawTextA(dc, text, -1, &box, DT_CENTER);
        ReleaseDC(port.window, dc);
        std::vector<DWORD> lamp = Capture(port.window, left + 3, 2, left + width - 3, 16),
                           drawn = Capture(port.window, left + 3, 42, left + width - 3, 56);
        for (size_t i = 0; i < lamp.size(); i++)
            if ((lamp[i] == Black) != (drawn[i] == Black))
                return false;
        return true;
    }
    static int HoldEnd()
    {
        return HOLD_ROW_OFFSET + HoldLampX[LAMP_COUNT - 1] + HoldLampWidth[LAMP_COUNT - 1];
    }
    static int RowTop(int row)
    {
        return TEXT_ROW_HEIGHT * row + TEXT_ROW_DROP;
    }
    void Write(const char* text)
    {
        AppendText(&port, text, 0);
    }
    void WriteLines(int count, const char* tag)
    {
        for (int i = 0; i < count; i++) {
            char text[96];
            snprintf(text, sizeof text, "\r\n%s %d: jumpy quail gypsy jig, pyg Qq Jj yy gg", tag,
                     i);
            Write(text);
        }
    }
    std::vector<DWORD> TextArea()
    {
        return Capture(port.window, 0, 18, 640, port.clientHeight);
    }
};

TEST_F(Paint, LampsLightFromTheirOwnBitsAndRepaintOnlyWhenChanged)
{
    const char* upper[] = {"CTS", "DSR", "CD", "RI", "RTS", "DTR", "LOOP"};
    const struct {
        unsigned short inputs, outputs;
        int lampCount;
        const char* lit; // per lamp: 1 lit, 0 dark, - not there
    } cases[] = {
        {SIGNAL_CTS | SIGNAL_DSR, SIGNAL_DTR | SIGNAL_RTS, 7, "1100110"},
        {SIGNAL_CD, SIGNAL_LOOP, 7, "0010001"},
        {SIGNAL_RI, SIGNAL_DTR | SIGNAL_LOOP, 6, "000101-"},
    };
    Show(100);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lit);
        port.inputSignals = c.inputs;
        port.outputSignals = c.outputs;
        port.signalLampCount = c.lampCount;
        RedrawPort(&port, 1);
        EXPECT_EQ(c.inputs, port.paintedInputSignals);
        EXPECT_EQ(c.outputs, port.paintedOutputSignals);
        for (int i = 0; i < LAMP_COUNT; i++) {
            int left = SignalLampX[i], width = SignalLampWidth[i];
            if (c.lit[i] == '-') {
                EXPECT_TRUE(AllOf(port.window, Unpainted, left, 0, left + width, 18));
                continue;
            }
            bool lit = c.lit[i] == '1';
            EXPECT_EQ(lit ? Green : Grey, Fill(left)) << upper[i];
            EXPECT_EQ(Black, PixelAt(port.window, left + width - 1, 9)) << upper[i];
            EXPECT_EQ(Unpainted, PixelAt(port.window, left + width, 9)) << upper[i];
            char label[8];
            strcpy(label, upper[i]);
            if (!lit)
                CharLowerA(label);
            EXPECT_TRUE(LabelReads(label, left, width)) << label;
        }
        EXPECT_FALSE(LabelReads(c.lit[0] == '1' ? "cts" : "CTS", SignalLampX[0], 30)); // not blind
        Cover(port.window, Unpainted, 0, 0, 640, 18);
    }
    RedrawPort(&port, 1);
    EXPECT_TRUE(AllOf(port.window, White, HOLD_ROW_OFFSET, 1, HoldEnd(), 17));
    const char* labels[] = {"cts", "dsr", "cd", "xoffh", "xoffs", "eof", "txim"};
    for (int bit = 0; bit < LAMP_COUNT; bit++) {
        DWORD word = 1u << bit;
        memcpy(&port.lineStatus, &word, sizeof word);
        RedrawPort(&port, 0);
        EXPECT_EQ(word, port.paintedStatus.holdFlags);
        for (int other = 0; other < LAMP_COUNT; other++)
            EXPECT_EQ(other == bit ? Blue : White, Fill(HOLD_ROW_OFFSET + HoldLampX[other]))
                << bit << other;
        int left = HOLD_ROW_OFFSET + HoldLampX[bit];
        EXPECT_TRUE(LabelReads(labels[bit], left, HoldLampWidth[bit])) << labels[bit];
    }
    memset(&port.lineStatus, 0, sizeof port.lineStatus);
    RedrawPort(&port, 0);
    EXPECT_TRUE(AllOf(port.window, White, HOLD_ROW_OFFSET, 1, HoldEnd(), 17));
    EXPECT_EQ(Unpainted, PixelAt(port.window, HoldEnd(), 9));
    RedrawPort(&port, 1);
    Cover(port.window, Unpainted, 0, 0, 640, 18);
    port.lineStatus.cbInQue = 7; // a count change alone repaints nothing
    RedrawPort(&port, 0);
    EXPECT_TRUE(AllOf(port.window, Unpainted, 0, 0, 640, 18));
    port.inputSignals = SIGNAL_CTS;
    RedrawPort(&port, 0);
    EXPECT_EQ(Green, Fill(SignalLampX[0]));
    EXPECT_EQ(Unpainted, PixelAt(port.window, 301, 9));
}

TEST_F(Paint, TextRows)
{
    RedrawPort(&port, 1); // no window: GetDC would paint the screen
    EXPECT_EQ(255, port.paintedInputSignals);
    Show(27);
    Write("pending");
    RedrawPort(&port, 1);
    EXPECT_TRUE(AllOf(port.window, Unpainted, 0, 0, 640, 27));
    EXPECT_EQ(255, port.paintedInputSignals);
    EXPECT_EQ(1, port.lines[0].dirty);
    Show(28); // the lamps and one row, the current line
    Write("\r\nHHHH");
    RedrawPort(&port, 1);
    EXPECT_EQ(Green, Fill(SignalLampX[4]));
    EXPECT_FALSE(AllOf(port.window, White, 10, 18, 60, 28));
    EXPECT_EQ(1, port.lines[0].dirty);
    Show(14 * 38);
    for (int i = 0; i < SCREEN_LINES; i++)
        Write("\r\nXXXXXXXX");
    RedrawPort(&port, 1);
    EXPECT_TRUE(AllOf(port.window, White, 10, RowTop(1), 200, RowTop(3)));
    EXPECT_FALSE(AllOf(port.window, White, 10, RowTop(3), 200, RowTop(4)));
    for (const ScreenLine& l : port.lines)
        EXPECT_EQ(0, l.dirty);
    EXPECT_TRUE(AllOf(port.window, GetSysColor(COLOR_WINDOW), 0, 18, 10, 14 * 38)); // the margin
    ClearScreen(&port);
    EXPECT_EQ(0, port.currentLine + port.currentColumn);
    EXPECT_TRUE(AllOf(port.window, White, 10, 18, 640, 14 * 38));
    Write("one\r\ntwo");
    RedrawPort(&port, 0);
    Cover(port.window, Unpainted, 0, 18, 640, 14 * 38);
    Write("!"); // only the current line changed: only its row is painted
    RedrawPort(&port, 0);
    EXPECT_EQ(White, PixelAt(port.window, 639, RowTop(37) + 5));
    EXPECT_EQ(Unpainted, PixelAt(port.window, 639, RowTop(36) + 5));
    Show(14 * 3);
    std::string line(79, 'W');
    Write("\r\n");
    Write(line.c_str());
    RedrawPort(&port, 1);
    std::vector<DWORD> painted = Capture(port.window, 0, RowTop(2), 640, RowTop(2) + 14);
    HDC dc = GetDC(port.window);
    RECT band = {10, RowTop(2), 1600, RowTop(2) + 14};
    FillRect(dc, &band, (HBRUSH)GetStockObject(WHITE_BRUSH));
    TextOutA(dc, 10, RowTop(2), line.c_str(), (int)line.size());
    ReleaseDC(port.window, dc);
    EXPECT_EQ(Capture(port.window, 0, RowTop(2), 640, RowTop(2) + 14), painted);
}

// After the ring moved on, painting only what changed must give the pixels
// of a full repaint: descenders reach into the row below, rows may have been
// under another window, and the bottom row's text spills below its band.
TEST_F(Paint, IncrementalPaintingOfAMovedRingEqualsAForcedRepaint)
{
    const struct {
        const char* name;
        int rows, extra, before, after;
        bool rewrite, cover;
    } cases[] = {
        {"three lines", 11, 0, 20, 3, false, false},
        {"one line", 11, 0, 20, 1, false, false},
        {"changed lines above", 11, 0, 15, 2, true, false},
        {"more than the ring", 11, 0, 10, SCREEN_LINES + 2, false, false},
        {"more than the rows", 11, 0, 10, 12, false, false},
        {"tall window", 37, 0, 40, 4, false, false},
        {"bottom row spills", 4, 10, 3, 1, false, false},
        {"covered rows", 11, 0, 20, 2, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port.~PortRecord();
        new (&port) PortRecord;
        Show(14 * (c.rows + 1) + c.extra);
        WriteLines(c.before, "before");
        Write(" gjpqy");
        RedrawPort(&port, 1);
        HWND cover = nullptr;
        if (c.cover) { // over rows 5 to 7
            RECT frame;
            GetWindowRect(port.window, &frame);
            cover = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, frame.left,
                                    frame.top + RowTop(5), 640, 14 * 3, nullptr, nullptr, nullptr,
                                    nullptr);
            PumpMessages();
        }
        if (c.rewrite) {
            Write(" then the current line grows ggg");
            ScreenLine& older = port.lines[(port.currentLine + SCREEN_LINES - 4) % SCREEN_LINES];
            strcpy(older.text, "rewritten yyyy");
            older.dirty = 1;
        }
        WriteLines(c.after, "after");
        RedrawPort(&port, 0);
        EXPECT_EQ(port.currentLine, port.paintedLine);
        std::vector<DWORD> painted = TextArea();
        RedrawPort(&port, 1);
        std::vector<DWORD> forced = TextArea();
        if (cover) {
            DestroyWindow(cover);
            for (int y = RowTop(5) - 18; y < RowTop(8) - 18; y++)
                for (int x = 0; x < 640; x++)
                    painted[y * 640 + x] = forced[y * 640 + x];
        }
        EXPECT_GT(std::count(forced.begin(), forced.end(), Black), 50);
        EXPECT_TRUE(forced == painted);
        DestroyWindow(port.window);
        port.window = nullptr;
    }
}
