// Every way a port window's text gets painted ends with the pixels a full
// repaint gives: rows left alone because what can be seen of them did not
// change, windows covered, uncovered, minimised and restored. And at 144 DPI
// the rows keep apart.
#include "app/frame.h"
#include "app/state.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"
#include "tests/test_support.h"
#include "view/paint.h"
#include "view/screen.h"

#include <gtest/gtest.h>
#include <ostream>
#include <stdio.h>
#include <string>
#include <vector>

// The client area of a window as painted, read in one copy.
static std::vector<DWORD> Snapshot(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> pixels((DWORD*)bits, (DWORD*)bits + client.right * client.bottom);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    return pixels;
}

static void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Lines of the test pattern's kind: every one begins like the others, so a
// narrow or covered window sees the same row after the ring moved on.
static void WriteLines(PortRecord* port, int count, int seed)
{
    for (int i = 0; i < count; i++) {
        char line[64] = "\r\nabcdefghijklmnopqrstuvwxyz gjpqy ABCDEFGHIJKLMNOPQRST";
        line[2 + 5 + (seed + i * 7) % 48] = 0;
        AppendText(port, line, 0);
    }
}

enum Between { NOTHING, COVERED, HIDDEN, MINIMISED };

struct PathCase {
    const char* name;
    int width;       // of the port window
    Between between; // what happens to it while lines arrive
    int lines;       // per poll
};

static void PrintTo(const PathCase& path, std::ostream* out)
{
    *out << path.name;
}

class PaintPaths : public testing::TestWithParam<PathCase>
{
  protected:
    SimulatedAdapter sim;
    PortRecord* port = nullptr;
    HWND window = nullptr, other = nullptr;

    void SetUp() override
    {
        ResetProgramState();
        if (!FrameWindow || !IsWindow(FrameWindow))
            StartApplication(GetModuleHandleA(nullptr), SW_SHOW);
        Sim::AddPorts(1, 2);
        window = OpenWindowOn(1, &port);
        other = OpenWindowOn(2, nullptr);
        ASSERT_TRUE(window && other && port);
        MoveWindow(other, 0, 0, 300, 200, TRUE);
        SetWindowPos(other, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        MoveWindow(window, 0, 0, GetParam().width, 260, TRUE);
        Pump();
    }
    void TearDown() override
    {
        HWND child;
        while (MdiClient && (child = GetWindow(MdiClient, GW_CHILD)) != nullptr)
            SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)child, 0);
        Pump();
        ResetProgramState();
    }
    static HWND OpenWindowOn(int number, PortRecord** record)
    {
        char name[8];
        snprintf(name, sizeof name, "COM%d", number);
        CurrentPort = new PortRecord;
        if (OpenPort(CurrentPort, name)) {
            delete CurrentPort;
            return nullptr;
        }
        if (record)
            *record = CurrentPort;
        MDICREATESTRUCTA create = {};
        create.szClass = "VantDraw";
        create.szTitle = "ComX";
        create.hOwner = GetModuleHandleA(nullptr);
        create.cx = 200;
        create.cy = 150;
        return (HWND)SendMessageA(MdiClient, WM_MDICREATE, 0, (LPARAM)&create);
    }
    // One poll's painting after `lines` more lines, as the poll cycle does it.
    void Poll(int seed)
    {
        WriteLines(port, GetParam().lines, seed);
        RedrawPort(port, 0);
    }
    void ExpectAsFullRepaint(const char* when)
    {
        std::vector<DWORD> painted = Snapshot(window);
        RedrawPort(port, 1);
        std::vector<DWORD> full = Snapshot(window);
        ASSERT_EQ(full.size(), painted.size()) << when;
        size_t differing = 0;
        for (size_t i = 0; i < full.size(); i++)
            differing += full[i] != painted[i];
        EXPECT_EQ(0u, differing) << when;
    }
};

TEST_P(PaintPaths, EveryPollAndWhatComesAfterItLooksLikeAFullRepaint)
{
    for (int seed = 0; seed < 6; seed++) {
        Poll(seed);
        ExpectAsFullRepaint("after a poll");
    }
    Between between = GetParam().between;
    if (between == COVERED || between == HIDDEN) {
        // The other window over part of this one, or over all of it.
        MoveWindow(other, between == COVERED ? 60 : 0, between == COVERED ? 40 : 0, 400, 400, TRUE);
        SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    if (between == MINIMISED)
        ShowWindow(window, SW_MINIMIZE);
    Pump();
    for (int seed = 6; seed < 10; seed++)
        Poll(seed);
    if (between == COVERED)
        ExpectAsFullRepaint("while covered");
    if (between == COVERED || between == HIDDEN)
        SetWindowPos(other, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (between == MINIMISED)
        SendMessageA(MdiClient, WM_MDIRESTORE, (WPARAM)window, 0);
    Pump();
    ExpectAsFullRepaint("shown again");
    Poll(10);
    ExpectAsFullRepaint("the next poll");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, PaintPaths,
    testing::Values(PathCase{"Wide", 640, NOTHING, 40}, PathCase{"Narrow", 90, NOTHING, 40},
                    PathCase{"NarrowFewLines", 130, NOTHING, 3},
                    PathCase{"Covered", 640, COVERED, 40}, PathCase{"Hidden", 400, HIDDEN, 40},
                    PathCase{"Minimised", 400, MINIMISED, 40}),
    [](const testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

// The rows of a window painted at 144 DPI: each row's ink stays above the
// first ink of the row below. Run in a child process, since the DPI is read
// when a process starts.
TEST(HighDpi, TextRowsDoNotOverlapAt144Dpi)
{
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi == 144) {
        HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, "TarnwickDpiChild");
        if (started) {
            SetEvent(started); // the DPI is read: the parent may restore the setting
            CloseHandle(started);
        }
        LayoutLampRows();
        WNDCLASSA windowClass = {};
        windowClass.style = CS_OWNDC;
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        windowClass.lpszClassName = "DpiRows";
        RegisterClassA(&windowClass);
        PortRecord port;
        port.window = CreateWindowExA(WS_EX_TOPMOST, "DpiRows", "", WS_POPUP | WS_VISIBLE, 0, 0,
                                      400, 14 * 5, nullptr, nullptr, nullptr, nullptr);
        port.clientHeight = 14 * 5;
        AppendText(&port, "\r\n|[]{}gjpqy\r\n\r\n|[]{}gjpqy\r\n", 0);
        RedrawPort(&port, 1);
        std::vector<DWORD> pixels = Snapshot(port.window);
        ForgetSeenRows(port.window);
        DestroyWindow(port.window);
        int lastInkOfRow1 = -1, firstInkOfRow3 = -1; // rows 2 and 4 hold no text
        for (int y = 18; y < 14 * 5; y++)
            for (int x = 0; x < 400; x++)
                if ((pixels[y * 400 + x] & 0xFFFFFF) == 0) {
                    if (y < 14 * 3 + 4)
                        lastInkOfRow1 = y;
                    else if (firstInkOfRow3 < 0)
                        firstInkOfRow3 = y;
                }
        ASSERT_GT(lastInkOfRow1, 18);
        EXPECT_LT(lastInkOfRow1 - 18, 14 + 2) << "row 1 reaches too far into row 2";
        EXPECT_GE(firstInkOfRow3, 14 * 3 + 4) << "row 3 reaches up into row 2";
        return;
    }
    // The parent: this case again in a process that sees 144 DPI, the
    // prefix's setting restored as soon as the child has read it.
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
    snprintf(command, sizeof command, "\"%s\" --gtest_filter=HighDpi.TextRowsDoNotOverlapAt144Dpi",
             self);
    STARTUPINFOA start = {};
    start.cb = sizeof start;
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
    EXPECT_EQ(0u, code) << "the rows overlap at 144 DPI (the child's output above tells how)";
}
