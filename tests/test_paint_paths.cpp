// Every way a port window gets painted ends with the pixels of a full repaint;
// at 144 DPI the text rows keep apart.
#include "app/poll.h"
#include "port/screen_text.h"
#include "tests/support.h"
#include "view/paint.h"
#include "view/text_rows.h"

#include <ostream>
#include <stdio.h>

static std::vector<DWORD> Snapshot(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    return Capture(window, 0, 0, client.right, client.bottom);
}

// Lines of the test pattern's kind, with descenders in every one: most
// begin like the others, so a narrow or covered window sees the same row
// after the ring moved on; every fourth begins with a glyph that reaches
// left of where it starts.
static const std::string& Stream()
{
    static std::string text;
    const std::string letters = "abcdefghijklmnopqrstuvwxyz gjpqy ABCDEFGHIJKLMNOPQRST";
    for (int i = 0; text.size() < 20000; i++)
        text += (i % 4 == 3 ? "\r\nj" : "\r\n") + letters.substr(0, 5 + i * 7 % 48);
    return text;
}

struct PathCase {
    const char* name;
    int width;  // of the port window
    RECT cover; // where the other window lies while text arrives (MDI client pixels)
    bool minimise;
    int bytes; // received per poll
};

static void PrintTo(const PathCase& path, std::ostream* out)
{
    *out << path.name;
}

class PaintPaths : public FrameTest, public testing::WithParamInterface<PathCase>
{
  protected:
    PortRecord* port = nullptr;
    HWND window = nullptr, other = nullptr;
    size_t sent = 0;
    bool covered = false;

    void SetUp() override
    {
        FrameTest::SetUp();
        port = OpenWindow(1);
        PortRecord* second = OpenWindow(2);
        ASSERT_TRUE(port && second);
        window = port->window;
        other = second->window;
        MoveWindow(other, 0, 0, 300, 200, TRUE);
        SetWindowPos(other, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        MoveWindow(window, 0, 0, GetParam().width, 260, TRUE);
        PumpMessages();
    }
    // One poll's painting after the next bytes of the stream.
    void Poll()
    {
        AppendText(port, Stream().data() + sent, GetParam().bytes);
        sent += GetParam().bytes;
        RedrawPort(port, 0);
    }
    void PlaceOther(bool over)
    {
        covered = over;
        SetWindowPos(other, over ? HWND_TOP : HWND_BOTTOM, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        PumpMessages();
    }
    // What the window shows where it can be seen, against what the system
    // has painted once nothing covers it and the whole window is invalid:
    // WM_PAINT's repaint, which takes none of the incremental paths.
    void ExpectAsFullRepaint(const char* when)
    {
        std::vector<DWORD> painted = Snapshot(window);
        RECT hidden = {0, 0, 0, 0}, client;
        GetClientRect(window, &client);
        if (covered) {
            GetWindowRect(other, &hidden);
            MapWindowPoints(nullptr, window, (POINT*)&hidden, 2);
            PlaceOther(false);
        }
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        std::vector<DWORD> full = Snapshot(window);
        if (hidden.right > hidden.left)
            PlaceOther(true);
        int differ = 0;
        for (int y = 0; y < client.bottom; y++)
            for (int x = 0; x < client.right; x++) {
                POINT at = {x, y};
                size_t i = (size_t)y * client.right + x;
                differ += !PtInRect(&hidden, at) && painted[i] != full[i];
            }
        EXPECT_EQ(0, differ) << when;
    }
};

TEST_P(PaintPaths, EveryPollAndWhatComesAfterItLooksLikeAFullRepaint)
{
    const PathCase& path = GetParam();
    for (int poll = 0; poll < 6; poll++) {
        Poll();
        ExpectAsFullRepaint("after a poll");
    }
    bool hides = path.cover.right > path.cover.left;
    bool partly = path.cover.left > 0 || path.cover.top > 0;
    if (hides) {
        const RECT& r = path.cover;
        MoveWindow(other, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        PlaceOther(true);
    }
    if (path.minimise)
        ShowWindow(window, SW_MINIMIZE);
    PumpMessages();
    for (int poll = 0; poll < 4; poll++) {
        Poll();
        if (partly)
            ExpectAsFullRepaint("while covered");
    }
    if (hides)
        PlaceOther(false);
    if (path.minimise)
        SendMessageA(MdiClient, WM_MDIRESTORE, (WPARAM)window, 0);
    PumpMessages();
    ExpectAsFullRepaint("shown again");
    Poll();
    ExpectAsFullRepaint("the next poll");
}

static const RECT Nowhere = {0, 0, 0, 0}, LowerRight = {60, 40, 460, 440},
                  LowerRows = {0, 150, 700, 450}, Everywhere = {0, 0, 700, 700};

INSTANTIATE_TEST_SUITE_P(
    Windows, PaintPaths,
    testing::Values(PathCase{"Wide", 640, Nowhere, false, 1300},
                    PathCase{"Narrow", 90, Nowhere, false, 1300},
                    PathCase{"NarrowFewLines", 130, Nowhere, false, 100},
                    PathCase{"LineGrowsUnderDescenders", 640, Nowhere, false, 7},
                    PathCase{"PartlyCovered", 640, LowerRight, false, 1300},
                    PathCase{"PartlyCoveredLineGrows", 640, LowerRight, false, 7},
                    PathCase{"RowsScrollFromUnderACover", 640, LowerRows, false, 70},
                    PathCase{"Hidden", 400, Everywhere, false, 1300},
                    PathCase{"Minimised", 400, Nowhere, true, 1300}),
    [](const testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

// What the rows of a window `width` x `height` must show: the ring drawn
// apart, as a full repaint draws it, with the program's row drawing.
static std::vector<DWORD> RingImage(PortRecord* port, int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    HFONT font = CreateRowFont();
    BeginTextRows(memory, font);
    int rows = height / TEXT_ROW_HEIGHT - 1;
    std::vector<const char*> texts;
    for (int age = rows - 1; age >= 0; age--)
        texts.push_back(
            age < SCREEN_LINES
                ? port->lines[(port->currentLine - age + SCREEN_LINES) % SCREEN_LINES].text
                : "");
    DrawTextRows(memory, 1, rows, texts.data(), nullptr, height, false);
    GdiFlush();
    std::vector<DWORD> pixels((DWORD*)bits + RowTop(1) * width, (DWORD*)bits + height * width);
    for (DWORD& p : pixels)
        p = RGB(GetBValue(p), GetGValue(p), GetRValue(p)) & 0xFFFFFF; // as COLORREF
    SelectObject(memory, GetStockObject(SYSTEM_FONT));
    if (font)
        DeleteObject(font);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

class Pacing : public FrameTest
{
  protected:
    PortRecord* port = nullptr;
    HWND window = nullptr;
    int sentLines = 0;

    void SetUp() override
    {
        FrameTest::SetUp();
        port = OpenWindow(1);
        ASSERT_TRUE(port);
        window = port->window;
        MoveWindow(window, 0, 0, 640, 260, TRUE);
        PumpMessages();
    }
    void Send(int number, int lines)
    {
        for (int i = 0; i < lines; i++, sentLines++) {
            std::string line = "\r\nline " + std::to_string(sentLines) + " jumpy gypsy quails";
            Sim::PeerSend(number, line.data(), (DWORD)line.size());
        }
    }
    std::vector<DWORD> TextArea(HWND w)
    {
        RECT client;
        GetClientRect(w, &client);
        return Capture(w, 0, RowTop(1), client.right, client.bottom);
    }
    bool ShowsRing(PortRecord* p)
    {
        RECT client;
        GetClientRect(p->window, &client);
        return TextArea(p->window) == RingImage(p, client.right, client.bottom);
    }
};

TEST_F(Pacing, StreamingRowsArePaintedOncePerPeriodLampsAtEveryPollAndTheEndWithinAPeriod)
{
    std::vector<DWORD> shown = TextArea(window);
    ULONGLONG paintedAt = 0;
    int paints = 0, tick = 0;
    bool waiting = false; // lines arrived after the last paint
    // Lines stream for 30 polls at least, and stop with lines waiting.
    while ((tick < 30 || !waiting) && tick < 200) {
        tick++;
        Send(1, 3);
        Sim::SetPeerSignals(1, tick % 2 ? MS_CTS_ON : 0);
        Ticks(1, POLL_PERIOD_MS);
        EXPECT_EQ(tick % 2 ? LIT_SIGNAL_COLOUR : DARK_LAMP_COLOUR,
                  PixelAt(window, SignalLampX[0] + 1, 14))
            << "CTS at tick " << tick;
        std::vector<DWORD> now = TextArea(window);
        waiting = now == shown;
        if (waiting)
            continue;
        if (paints++) {
            EXPECT_GE(Sim::Now() - paintedAt, PaintPeriodMs) << "rows painted again at " << tick;
        }
        EXPECT_TRUE(ShowsRing(port)) << "tick " << tick;
        paintedAt = Sim::Now();
        shown = now;
    }
    EXPECT_GE(paints, 30 * POLL_PERIOD_MS / (PaintPeriodMs + POLL_PERIOD_MS));
    while (!ShowsRing(port) && Sim::Now() - paintedAt < 1000)
        Ticks(1, POLL_PERIOD_MS);
    EXPECT_LE(Sim::Now() - paintedAt, PaintPeriodMs) << "the last lines came that late";
}

TEST_F(Pacing, FirstPaintPaintHandlerClearScreenAndShowCrLfAreNotPaced)
{
    // Within a period of the first window's paint, and before the system
    // asks for the new window's.
    PortRecord* fresh = OpenWindow(2);
    MoveWindow(fresh->window, 0, 0, 640, 260, FALSE);
    Send(2, 3);
    Ticks(1, POLL_PERIOD_MS);
    EXPECT_TRUE(ShowsRing(fresh)) << "a new window's first paint";
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)fresh->window, 0);
    PumpMessages();
    const struct {
        const char* name;
        std::function<void(HWND)> act;
    } cases[] = {
        {"WM_PAINT",
         [](HWND w) {
             InvalidateRect(w, nullptr, TRUE);
             UpdateWindow(w);
         }},
        {"Clear Screen", [](HWND w) { Command(CMD_CLEAR_SCREEN, w); }},
        {"Show CR/LF", [](HWND) { Command(CMD_SHOW_CRLF); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sim::Advance(PaintPeriodMs);
        Send(1, 3);
        Ticks(1, POLL_PERIOD_MS);
        ASSERT_TRUE(ShowsRing(port));
        Send(1, 3);
        Ticks(1, POLL_PERIOD_MS);
        ASSERT_FALSE(ShowsRing(port)) << "the rows wait for the period";
        c.act(window);
        EXPECT_TRUE(ShowsRing(port));
    }
}

// Every painting case again in a child process that sees 144 DPI (a
// process reads the DPI when it starts), where the rows also keep apart.
TEST(HighDpi, PaintingAt144Dpi)
{
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi == 144) {
        LayoutLampRows();
        PortRecord port;
        port.window = OpenPlainWindow(14 * 5);
        port.clientHeight = 14 * 5;
        AppendText(&port, "\r\n|[]{}gjpqy\r\n\r\n|[]{}gjpqy\r\n", 0); // text in rows 1 and 3
        RedrawPort(&port, 1);
        EXPECT_FALSE(AllOf(port.window, RGB(255, 255, 255), 10, 18, 640, 32)) << "no text in row 1";
        // Row 1's descenders reach 2 pixels into row 2 (y 32 to 46), as at 96 DPI.
        EXPECT_TRUE(AllOf(port.window, RGB(255, 255, 255), 10, 34, 640, 46))
            << "rows 1 and 3 reach into row 2";
        ForgetSeenRows(port.window);
        DestroyWindow(port.window);
        return;
    }
    // The parent: the prefix's setting is restored as soon as the child has
    // read it (tests/support.cpp).
    HANDLE childStarted = CreateEventA(nullptr, TRUE, FALSE, "TarnwickDpiChild");
    ASSERT_NE(nullptr, childStarted);
    HKEY desktop;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &desktop, nullptr));
    DWORD old = 0, size = sizeof old, type = 0;
    bool had = RegQueryValueExA(desktop, "LogPixels", nullptr, &type, (BYTE*)&old, &size) == 0;
    DWORD wanted = 144;
    RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, (const BYTE*)&wanted, sizeof wanted);
    char self[MAX_PATH], command[MAX_PATH + 64];
    GetModuleFileNameA(nullptr, self, sizeof self);
    snprintf(command, sizeof command,
             "\"%s\" --gtest_filter=HighDpi.*:Windows/PaintPaths.*:Pacing.*", self);
    STARTUPINFOA start = {sizeof start, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          nullptr,      nullptr, nullptr, nullptr};
    PROCESS_INFORMATION child = {};
    BOOL started = CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &start, &child);
    HANDLE either[2] = {childStarted, child.hProcess};
    if (started)
        WaitForMultipleObjects(2, either, FALSE, 60000);
    CloseHandle(childStarted);
    if (had)
        RegSetValueExA(desktop, "LogPixels", 0, type, (const BYTE*)&old, size);
    else
        RegDeleteValueA(desktop, "LogPixels");
    RegCloseKey(desktop);
    ASSERT_TRUE(started);
    DWORD code = 1;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 60000));
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(0u, code) << "a case failed at 144 DPI (the child's output above tells which)";
}
