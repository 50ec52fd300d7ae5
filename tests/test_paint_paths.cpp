// Every way a port window gets painted ends with the pixels of a full repaint;
// at 144 DPI the text rows keep apart.
#include "port/screen_text.h"
#include "tests/support.h"
#include "view/paint.h"

#include <ostream>
#include <stdio.h>

static std::vector<DWORD> Snapshot(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    return Capture(window, 0, 0, client.right, client.bottom);
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

class PaintPaths : public FrameTest, public testing::WithParamInterface<PathCase>
{
  protected:
    PortRecord* port = nullptr;
    HWND window = nullptr, other = nullptr;

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
        EXPECT_TRUE(full == painted) << when;
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
    PumpMessages();
    for (int seed = 6; seed < 10; seed++)
        Poll(seed);
    if (between == COVERED)
        ExpectAsFullRepaint("while covered");
    if (between == COVERED || between == HIDDEN)
        SetWindowPos(other, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (between == MINIMISED)
        SendMessageA(MdiClient, WM_MDIRESTORE, (WPARAM)window, 0);
    PumpMessages();
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

// Run again in a child process that sees 144 DPI: a process reads the DPI when
// it starts.
TEST(HighDpi, TextRowsDoNotOverlapAt144Dpi)
{
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi == 144) {
        HANDLE read = OpenEventA(EVENT_MODIFY_STATE, FALSE, "TarnwickDpiChild");
        SetEvent(read); // the parent may restore the setting now
        CloseHandle(read);
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
    EXPECT_EQ(0u, code) << "the rows overlap at 144 DPI (the child's output above tells how)";
}
