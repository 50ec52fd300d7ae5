// The port window: taking over its record, typing, lamp clicks and the port
// commands, with real windows under the frame and ports on the simulated adapter.
#include "app/commands.h"
#include "app/state.h"
#include "port/port_record.h"
#include "sim/sim.h"
#include "tests/shell_helpers.h"
#include "tests/test_support.h"
#include "view/paint.h"

#include <functional>
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<DWORD> Escapes;

class PortWindowTest : public testing::Test
{
  protected:
    SimulatedAdapter sim;
    BoxRecorder boxes;
    PortRecord* port = nullptr;

    void SetUp() override
    {
        ResetProgramState();
        StartFrameOnce();
        ASSERT_TRUE(IsWindow(MdiClient));
        Sim::AddPorts(5, 4);
        port = OpenPortWindow(5);
        ASSERT_TRUE(port);
        ASSERT_TRUE(IsWindow(port->window));
    }

    void TearDown() override
    {
        CloseAllPortWindows();
        PumpMessages(200);
        ResetProgramState();
    }

    // A click as the system delivers it: the pointer moves there, then the
    // button goes up (its own position is not what counts).
    void Click(int x, int y, UINT button = WM_LBUTTONUP)
    {
        SendMessageA(port->window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        SendMessageA(port->window, button, 0, MAKELPARAM(500, 500));
    }

    void Type(char c)
    {
        SendMessageA(port->window, WM_CHAR, (WPARAM)(unsigned char)c, 1);
    }

    LRESULT Command(WORD id)
    {
        return SendMessageA(port->window, WM_COMMAND, id, 0);
    }

    void NotNt()
    {
        PlatformId = VER_PLATFORM_WIN32_WINDOWS;
    }
};

// --- taking over the record ---

typedef PortWindowTest PortWindowCreation;

TEST_F(PortWindowCreation, WindowTakesOverTheRecordFromCurrentPort)
{
    // The whole pointer comes back, not 4 bytes of it.
    EXPECT_EQ((LONG_PTR)port, GetWindowLongPtrA(port->window, 0));
    char title[32];
    GetWindowTextA(port->window, title, sizeof title);
    EXPECT_STREQ("COM5", title);
    EXPECT_EQ(0, strncmp(port->lines[0].text, "<Port Opened>", 13));
    EXPECT_EQ(port->window, GetFocus());
    EXPECT_EQ(MdiClient, GetParent(port->window));
}

TEST_F(PortWindowCreation, DrawingSurfaceKeepsTheWindowColours)
{
    HDC surface = GetDC(port->window);
    COLORREF background = GetBkColor(surface);
    ReleaseDC(port->window, surface);
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), background);
}

TEST_F(PortWindowCreation, WithoutAFreshRecordNoWindowIsMade)
{
    for (PortRecord* handedOver : {(PortRecord*)nullptr, port}) { // none, or one already taken
        CurrentPort = handedOver;
        EXPECT_EQ(nullptr, CreatePortWindow());
        EXPECT_EQ(1, PortWindowCount());
        EXPECT_TRUE(Sim::IsOpen(5));
    }
}

TEST_F(PortWindowCreation, DestroyingTheWindowReleasesThePort)
{
    SettingsTargetPort = port;
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)port->window, 0);
    EXPECT_FALSE(Sim::IsOpen(5));
    EXPECT_EQ(0, Sim::OpenHandles());
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_EQ(nullptr, FindOpenPort("COM5"));
    // No hand-over slot is left pointing at the freed record.
    EXPECT_EQ(nullptr, CurrentPort);
    EXPECT_EQ(nullptr, SettingsTargetPort);
}

TEST_F(PortWindowCreation, DestroyingOneWindowLeavesTheOthersLinked)
{
    PortRecord* second = OpenPortWindow(6);
    PortRecord* third = OpenPortWindow(7);
    ASSERT_TRUE(second && third);
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)second->window, 0);
    EXPECT_FALSE(Sim::IsOpen(6));
    EXPECT_EQ(third, PortListHead);
    EXPECT_EQ(port, PortListHead->next);
    EXPECT_EQ(nullptr, port->next);
}

// --- size, focus, paint ---

typedef PortWindowTest PortWindowBasics;

TEST_F(PortWindowBasics, SizeIsStored)
{
    SendMessageA(port->window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 400));
    EXPECT_EQ(640, port->clientWidth);
    EXPECT_EQ(400, port->clientHeight);
}

TEST_F(PortWindowBasics, HandlersHandTheirRecordOver)
{
    PortRecord* other = OpenPortWindow(6);
    ASSERT_TRUE(other);
    CurrentPort = other;
    SettingsTargetPort = other;
    SendMessageA(port->window, WM_MOUSEMOVE, 0, MAKELPARAM(300, 300));
    EXPECT_EQ(port, CurrentPort);
    CurrentPort = other;
    Command(999);
    EXPECT_EQ(port, CurrentPort);
    EXPECT_EQ(port, SettingsTargetPort);
}

TEST_F(PortWindowBasics, FocusRaisesAndLowersTheCursorCount)
{
    int before = ShowCursor(TRUE) - 1;
    ShowCursor(FALSE);
    SendMessageA(port->window, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(before + 2, ShowCursor(TRUE));
    ShowCursor(FALSE);
    SendMessageA(port->window, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(before + 1, ShowCursor(TRUE));
    ShowCursor(FALSE);
}

TEST_F(PortWindowBasics, PaintValidatesAndRepaintsEverything)
{
    port->inputSignals = SIGNAL_CTS;
    InvalidateRect(port->window, nullptr, TRUE);
    UpdateWindow(port->window);
    RECT update;
    EXPECT_FALSE(GetUpdateRect(port->window, &update, FALSE));
    EXPECT_EQ(SIGNAL_CTS, port->paintedInputSignals);
    EXPECT_EQ(port->outputSignals, port->paintedOutputSignals);
}

TEST_F(PortWindowBasics, ActivationIsAnsweredWithoutDefault)
{
    EXPECT_EQ(0, SendMessageA(port->window, WM_MDIACTIVATE, 0, (LPARAM)port->window));
}

// --- typing ---

typedef PortWindowTest PortWindowTyping;

TEST_F(PortWindowTyping, EachCharacterIsSentAsOneByteWithoutEcho)
{
    std::string before = ScreenText(port);
    for (char c : {'A', '\r', '\xE9'}) { // a letter, Enter, a high byte
        Type(c);
        Sim::Advance(100);
        EXPECT_EQ(std::string(1, c), Sim::PeerTake(5));
    }
    EXPECT_EQ(before, ScreenText(port));
}

// --- lamp clicks ---

typedef PortWindowTest PortWindowLamps;

TEST_F(PortWindowLamps, OutsideTheLampsNothingHappens)
{
    NotNt();
    const POINT outside[] = {
        {118, 5},  {148, 5},   // just left and right of the RTS lamp
        {120, 16}, {120, 200}, // below the lamp strip
        {36, 5},   {113, 5},   // between lamps
    };
    for (POINT at : outside) {
        Click(at.x, at.y);
        Click(at.x, at.y, WM_RBUTTONUP);
    }
    EXPECT_TRUE(Sim::Escapes(5).empty());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS, port->outputSignals);
}

TEST_F(PortWindowLamps, RtsLampTogglesUpToItsEdges)
{
    NotNt();
    Click(147, 5);
    EXPECT_EQ(Escapes{CLRRTS}, Sim::Escapes(5));
    EXPECT_FALSE(port->outputSignals & SIGNAL_RTS);
    Click(119, 15);
    EXPECT_EQ((Escapes{CLRRTS, SETRTS}), Sim::Escapes(5));
    EXPECT_TRUE(port->outputSignals & SIGNAL_RTS);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PortWindowLamps, RightButtonActsLikeLeft)
{
    NotNt();
    Click(120, 5, WM_RBUTTONUP);
    EXPECT_EQ(Escapes{CLRRTS}, Sim::Escapes(5));
    Click(20, 5, WM_RBUTTONUP);
    EXPECT_EQ(1u, boxes.boxes.size());
}

TEST_F(PortWindowLamps, InputLampsOnlyShowABox)
{
    const int inside[4] = {20, 50, 80, 100}; // CTS, DSR, CD, RI
    for (int x : inside)
        Click(x, 5);
    ASSERT_EQ(4u, boxes.boxes.size());
    for (const ShownBox& box : boxes.boxes) {
        EXPECT_EQ("These are inputs, so cannot be controlled!", box.text);
        EXPECT_EQ("", box.caption);
        EXPECT_EQ((UINT)MB_OK, box.style);
        EXPECT_EQ(port->window, box.owner); // the window with the focus
    }
    EXPECT_TRUE(Sim::Escapes(5).empty());
    EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS, port->outputSignals);
}

TEST_F(PortWindowLamps, DtrLampToggles)
{
    Click(160, 5);
    EXPECT_EQ(Escapes{CLRDTR}, Sim::Escapes(5));
    EXPECT_FALSE(port->outputSignals & SIGNAL_DTR);
    Click(160, 5);
    EXPECT_EQ((Escapes{CLRDTR, SETDTR}), Sim::Escapes(5));
    EXPECT_TRUE(port->outputSignals & SIGNAL_DTR);
}

TEST_F(PortWindowLamps, LoopLampSwitchesTheDriverLoopback)
{
    ASSERT_EQ(7, port->signalLampCount);
    Click(200, 5);
    EXPECT_TRUE(port->outputSignals & SIGNAL_LOOP);
    EXPECT_TRUE(Sim::LoopbackOn(5));
    Click(200, 5);
    EXPECT_FALSE(port->outputSignals & SIGNAL_LOOP);
    EXPECT_FALSE(Sim::LoopbackOn(5));
}

TEST_F(PortWindowLamps, WithoutTheDriverSwitchTheLoopLampIsNotThere)
{
    Sim::SetLoopbackAnswer(6, FALSE);
    PortRecord* plain = OpenPortWindow(6);
    ASSERT_TRUE(plain);
    ASSERT_EQ(6, plain->signalLampCount);
    port = plain;
    Click(200, 5);
    EXPECT_FALSE(plain->outputSignals & SIGNAL_LOOP);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PortWindowLamps, HandshakeRtsIsRefusedOnNt)
{
    PlatformId = VER_PLATFORM_WIN32_NT;
    const DWORD modes[2] = {RTS_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE};
    for (DWORD mode : modes) {
        port->dcb.fRtsControl = mode;
        Click(130, 5);
    }
    ASSERT_EQ(2u, boxes.boxes.size());
    for (const ShownBox& box : boxes.boxes) {
        EXPECT_EQ("Can't override RTS when in handshake mode in NT!", box.text);
        EXPECT_EQ("", box.caption);
        EXPECT_EQ(port->window, box.owner);
    }
    EXPECT_TRUE(Sim::Escapes(5).empty());
    EXPECT_TRUE(port->outputSignals & SIGNAL_RTS);
}

TEST_F(PortWindowLamps, RtsIsOverriddenOutsideHandshakeOnNtAndAlwaysElsewhere)
{
    struct Case {
        DWORD platform, rtsControl;
    };
    const Case cases[] = {{VER_PLATFORM_WIN32_WINDOWS, RTS_CONTROL_HANDSHAKE},
                          {VER_PLATFORM_WIN32_NT, RTS_CONTROL_ENABLE}};
    for (const Case& c : cases) {
        PlatformId = c.platform;
        port->dcb.fRtsControl = c.rtsControl;
        Click(130, 5);
        Click(130, 5);
    }
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ((Escapes{CLRRTS, SETRTS, CLRRTS, SETRTS}), Sim::Escapes(5));
}

TEST_F(PortWindowLamps, PortClosedWhileTheBoxIsUpIsLeftAlone)
{
    boxes.onBox = [](const ShownBox&) { SendMessageA(FrameWindow, WM_QUERYENDSESSION, 0, 0); };
    Click(20, 5);
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(0, PortWindowCount());
    EXPECT_EQ(0, Sim::OpenHandles());
}

// --- port commands ---

typedef PortWindowTest PortWindowCommands;

TEST_F(PortWindowCommands, FlowAndBreakCommandsEscapeAndWriteMarkers)
{
    Command(CMD_SET_XOFF);
    Command(CMD_SET_XON);
    Command(CMD_SET_BREAK);
    Command(CMD_CLEAR_BREAK);
    EXPECT_EQ((Escapes{SETXOFF, SETXON, SETBREAK, CLRBREAK}), Sim::Escapes(5));
    EXPECT_NE(std::string::npos,
              ScreenText(port).find("<SETXOFF set><SETXON set><SETBREAK set><CLRBREAK set>"));
}

TEST_F(PortWindowCommands, MarkerIsWrittenEvenWhenTheEscapeFails)
{
    Sim::FailCall(Sim::CALL_ESCAPE, ERROR_BAD_COMMAND);
    Command(CMD_SET_BREAK);
    EXPECT_TRUE(ScreenHas(port, "<SETBREAK set>"));
}

TEST_F(PortWindowCommands, ClearScreenEmptiesTheText)
{
    Command(CMD_SET_XON);
    Command(CMD_CLEAR_SCREEN);
    EXPECT_FALSE(ScreenHas(port, "<"));
    EXPECT_EQ(0, port->currentLine);
}

TEST_F(PortWindowCommands, OtherIdentifiersAreIgnored)
{
    std::string before = ScreenText(port);
    EXPECT_EQ(0, Command(CMD_TILE));
    EXPECT_EQ(0, Command(CMD_WINDOW_LIST_FIRST));
    EXPECT_EQ(before, ScreenText(port));
    EXPECT_TRUE(Sim::Escapes(5).empty());
    EXPECT_TRUE(IsWindow(port->window));
}

TEST_F(PortWindowCommands, ExitClosesTheFrame)
{
    HWND frame = FrameWindow;
    Command(CMD_EXIT);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_EQ(0, Sim::OpenHandles());
    WPARAM code = 99;
    EXPECT_TRUE(PumpMessages(1000, &code));
    EXPECT_EQ(0u, code);
}

// Ends the COM Settings dialog as soon as it is up, noting whom it acts on.
static HHOOK SettingsHook;
static std::string SettingsCaption;
static PortRecord* SettingsTargetSeen;

static LRESULT CALLBACK EndSettings(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        char name[16];
        GetClassNameA((HWND)wParam, name, sizeof name);
        if (strcmp(name, "#32770") == 0 && SettingsCaption.empty()) {
            char caption[64];
            GetWindowTextA((HWND)wParam, caption, sizeof caption);
            SettingsCaption = caption;
            SettingsTargetSeen = SettingsTargetPort;
            PostMessageA((HWND)wParam, WM_COMMAND, IDCANCEL, 0);
        }
    }
    return CallNextHookEx(SettingsHook, code, wParam, lParam);
}

TEST_F(PortWindowCommands, PortSettingsRunsTheDialogForThisPort)
{
    PortRecord* other = OpenPortWindow(6);
    ASSERT_TRUE(other);
    SettingsTargetPort = other;
    SettingsCaption.clear();
    SettingsTargetSeen = nullptr;
    SettingsHook = SetWindowsHookExA(WH_CBT, EndSettings, nullptr, GetCurrentThreadId());
    Command(CMD_PORT_SETTINGS);
    UnhookWindowsHookEx(SettingsHook);
    EXPECT_EQ("COM Settings", SettingsCaption);
    EXPECT_EQ(port, SettingsTargetSeen);
}
