// The frame and port windows, run for real with ports on the simulated adapter.
#include "port/loopback.h"
#include "tests/support.h"
#include "view/paint.h"

#include <string.h>

// Records what the MDI client is asked to arrange.
static WNDPROC RealClient;
static std::vector<UINT> Arranged;

static LRESULT CALLBACK RecordingClient(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MDITILE || message == WM_MDICASCADE || message == WM_MDIICONARRANGE ||
        message == WM_MDIRESTORE || message == WM_MDIDESTROY)
        Arranged.push_back(message);
    return CallWindowProcA(RealClient, window, message, wParam, lParam);
}

class Frame : public FrameTest
{
  protected:
    void WatchClient()
    {
        Arranged.clear();
        RealClient = (WNDPROC)SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RecordingClient);
    }
    void TearDown() override
    {
        if (RealClient && IsWindow(MdiClient))
            SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RealClient);
        RealClient = nullptr;
        FrameTest::TearDown();
    }
    static bool MenuState(UINT item, UINT by, UINT flags)
    {
        return (GetMenuState(AppMenu, item, by) & flags) != 0;
    }
    static bool ScreenHas(PortRecord* port, const char* text)
    {
        return Ring(port).find(text) != std::string::npos;
    }
};

TEST_F(Frame, ResourcesLoadAndCommandsReachTheirHandlers)
{
    // A frame of its own: earlier tests in the process enable its popups.
    SendMessageA(FrameWindow, WM_CLOSE, 0, 0);
    RunMessageLoop(accelerators);
    FrameTest::SetUp();
    Command(999);
    Command(CMD_CLEAR_SCREEN);
    Command(CMD_CLOSE);
    EXPECT_EQ(0, Command(CMD_ABOUT));
    ASSERT_EQ(1u, boxes.boxes.size());
    const ShownBox& box = boxes.boxes[0];
    EXPECT_EQ(0u, box.text.rfind("Tarnwick version 2.0\n\n", 0)) << box.text;
    EXPECT_EQ(std::string::npos, box.text.find('\n', 22));
    EXPECT_EQ("About Tarnwick", box.caption);
    EXPECT_EQ((UINT)MB_ICONINFORMATION, box.style);
    EXPECT_EQ(FrameWindow, box.owner);
    char title[32];
    GetWindowTextA(FrameWindow, title, sizeof title);
    EXPECT_STREQ("Tarnwick", title);
    EXPECT_EQ(AppMenu, GetMenu(FrameWindow));
    WNDCLASSA port;
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), VANT_PORT_CLASS, &port));
    EXPECT_TRUE(port.hIcon);
    // Settings and Window are disabled, not grayed, until a port opens.
    EXPECT_TRUE(MenuState(MENU_SETTINGS_POSITION, MF_BYPOSITION, MF_DISABLED));
    EXPECT_FALSE(MenuState(MENU_SETTINGS_POSITION, MF_BYPOSITION, MF_GRAYED));
    EXPECT_TRUE(MenuState(MENU_WINDOW_POSITION, MF_BYPOSITION, MF_DISABLED));
    EXPECT_FALSE(MenuState(MENU_PORT_POSITION, MF_BYPOSITION, MF_DISABLED | MF_GRAYED));
    // A menu command reaches its handler and checks its item.
    Command(CMD_SEND_TEST_DATA);
    EXPECT_EQ(1, TestDataOn);
    EXPECT_TRUE(MenuState(CMD_SEND_TEST_DATA, MF_BYCOMMAND, MF_CHECKED));
    SendMessageA(FrameWindow, WM_COMMAND, MAKEWPARAM(CMD_SEND_TEST_DATA, 1), 0);
    EXPECT_EQ(0, TestDataOn);
    EXPECT_FALSE(MenuState(CMD_SEND_TEST_DATA, MF_BYCOMMAND, MF_CHECKED));
    Command(CMD_SHOW_CRLF);
    EXPECT_EQ(1, ShowCrLf);
    Command(CMD_SHOW_CRLF);
    EXPECT_EQ(0, ShowCrLf);
    // The accelerators through the message loop: Shift+F4 tiles, Shift+F5
    // cascades, the plain keys do neither.
    OpenWindow(5), OpenWindow(6);
    WatchClient();
    BYTE keys[256];
    for (BYTE shift : {0, 0x80}) {
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift;
        SetKeyboardState(keys);
        PostMessageA(FrameWindow, WM_KEYDOWN, VK_F4, 0x003E0001);
        PostMessageA(FrameWindow, WM_KEYDOWN, VK_F5, 0x003F0001);
        PostQuitMessage(0);
        EXPECT_EQ(0, RunMessageLoop(accelerators));
    }
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ((std::vector<UINT>{WM_MDITILE, WM_MDICASCADE}), Arranged);
    Command(CMD_TILE);
    Command(CMD_CASCADE);
    Command(CMD_ARRANGE_ICONS);
    EXPECT_EQ((std::vector<UINT>{WM_MDITILE, WM_MDICASCADE, WM_MDITILE, WM_MDICASCADE,
                                 WM_MDIICONARRANGE}),
              Arranged);
}

TEST_F(Frame, PortCommandsGoToTheActiveWindowOnlyAndTheTimerPolls)
{
    PortRecord *first = OpenWindow(5), *second = OpenWindow(6);
    ASSERT_TRUE(first && second);
    std::string before = Ring(first);
    Command(999);
    Command(CMD_CLEAR_BREAK);
    EXPECT_TRUE(ScreenHas(second, "<CLRBREAK set>"));
    EXPECT_EQ(before, Ring(first));
    SendMessageA(MdiClient, WM_MDIACTIVATE, (WPARAM)first->window, 0);
    Command(CMD_SET_BREAK);
    EXPECT_EQ(std::vector<DWORD>{SETBREAK}, Sim::Escapes(5));
    EXPECT_EQ(std::vector<DWORD>{CLRBREAK}, Sim::Escapes(6));
    Command(CMD_CLOSE);
    EXPECT_EQ(1, PortWindows());
    EXPECT_FALSE(Sim::IsOpen(5));
    EXPECT_EQ(second, PortListHead);

    Sim::PeerSend(6, "hello", 5); // the poll timer ticks
    MSG tick;
    for (int waits = 0; waits < 100; waits++) {
        if (PeekMessageA(&tick, FrameWindow, WM_TIMER, WM_TIMER, PM_REMOVE))
            break;
        WaitMessage();
    }
    ASSERT_EQ((UINT)WM_TIMER, tick.message);
    DispatchMessageA(&tick);
    EXPECT_TRUE(ScreenHas(second, "hello"));
}

TEST_F(Frame, ClosingAllPorts)
{
    const struct {
        const char* name;
        UINT message;
        WPARAM command;
        bool frameStays;
    } cases[] = {
        {"Close All", WM_COMMAND, CMD_CLOSE_ALL, true},
        {"log-off query", WM_QUERYENDSESSION, 0, true},
        {"Exit", WM_COMMAND, CMD_EXIT, false},
        {"close box", WM_CLOSE, 0, false},
        {"quit message", WM_QUIT, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTest::SetUp();
        OpenWindow(5), OpenWindow(6);
        PortRecord* top = OpenWindow(7);
        SendMessageA(MdiClient, WM_MDIMAXIMIZE, (WPARAM)top->window, 0);
        WatchClient();
        HWND frame = FrameWindow;
        LRESULT answer = SendMessageA(frame, c.message, c.command, 0);
        if (c.message == WM_QUERYENDSESSION) {
            EXPECT_NE(0, answer);
        }
        EXPECT_EQ(c.frameStays, IsWindow(frame) != 0);
        if (c.message == WM_QUIT || !c.frameStays) {
            MSG quit;
            ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
            EXPECT_EQ(0, RunMessageLoop(accelerators));
        }
        if (c.message != WM_QUIT) {
            EXPECT_EQ(nullptr, PortListHead);
            EXPECT_EQ(0, Sim::OpenHandles());
        }
        if (c.frameStays && c.message != WM_QUIT) { // each restored before it was destroyed
            EXPECT_EQ(0, PortWindows());
            EXPECT_EQ((std::vector<UINT>{WM_MDIRESTORE, WM_MDIDESTROY, WM_MDIRESTORE, WM_MDIDESTROY,
                                         WM_MDIRESTORE, WM_MDIDESTROY}),
                      Arranged);
        }
        TearDown();
    }
}

// --- the port window ---

class PortWindow : public Frame
{
  protected:
    void SetUp() override
    {
        Frame::SetUp();
        port = OpenWindow(5);
        ASSERT_TRUE(port && IsWindow(port->window));
    }
    void Click(int x, int y, UINT button = WM_LBUTTONUP)
    {
        // The pointer's last move counts, not the button's own position.
        SendMessageA(port->window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        SendMessageA(port->window, button, 0, MAKELPARAM(500, 500));
    }
    PortRecord* port = nullptr;
};

TEST_F(PortWindow, TakesOverItsRecordAndFreesItWhenDestroyed)
{
    int count = ShowCursor(TRUE);
    ShowCursor(FALSE);
    SendMessageA(port->window, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(count + 1, ShowCursor(TRUE));
    ShowCursor(FALSE);
    SendMessageA(port->window, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(count, ShowCursor(TRUE));
    ShowCursor(FALSE);
    port->inputSignals = SIGNAL_CTS;
    InvalidateRect(port->window, nullptr, TRUE);
    UpdateWindow(port->window);
    RECT update;
    EXPECT_FALSE(GetUpdateRect(port->window, &update, FALSE));
    EXPECT_EQ(SIGNAL_CTS, port->paintedInputSignals);
    EXPECT_EQ(0, SendMessageA(port->window, WM_MDIACTIVATE, 0, (LPARAM)port->window));
    std::string screen = Ring(port);
    for (char c : {'A', '\r', '\xE9'}) { // one byte each, no echo
        SendMessageA(port->window, WM_CHAR, (WPARAM)(unsigned char)c, 1);
        Sim::Advance(100);
        EXPECT_EQ(std::string(1, c), Sim::PeerTake(5));
    }
    EXPECT_EQ(screen, Ring(port));
    EXPECT_EQ((LONG_PTR)port, GetWindowLongPtrA(port->window, 0)); // the whole pointer
    char title[32];
    GetWindowTextA(port->window, title, sizeof title);
    EXPECT_STREQ("COM5", title);
    EXPECT_EQ(0, strncmp(port->lines[0].text, "<Port Opened>", 13));
    EXPECT_EQ(port->window, GetFocus());
    for (PortRecord* handedOver : {(PortRecord*)nullptr, port}) { // none, or taken already
        CurrentPort = handedOver;
        EXPECT_EQ(nullptr, CreatePortWindow());
    }
    PortRecord *second = OpenWindow(6), *third = OpenWindow(7);
    SendMessageA(port->window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 400));
    EXPECT_EQ(400, port->clientHeight);
    EXPECT_EQ(640, port->clientWidth);
    CurrentPort = second;
    SendMessageA(port->window, WM_MOUSEMOVE, 0, MAKELPARAM(300, 300));
    EXPECT_EQ(port, CurrentPort);
    CurrentPort = SettingsTargetPort = second;
    Command(999, port->window);
    EXPECT_EQ(port, SettingsTargetPort);
    EXPECT_EQ(port, CurrentPort);
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)second->window, 0);
    EXPECT_FALSE(Sim::IsOpen(6));
    EXPECT_EQ(third, PortListHead);
    EXPECT_EQ(port, third->next);
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)port->window, 0);
    EXPECT_EQ(nullptr, CurrentPort); // no hand-over slot keeps the freed record
    EXPECT_EQ(nullptr, SettingsTargetPort);
    EXPECT_EQ(third, PortListHead);
    EXPECT_EQ(nullptr, third->next);
    EXPECT_EQ(4, Sim::OpenHandles());
}

TEST_F(PortWindow, EscapeCommandsAndLampClicks)
{
    Command(CMD_SET_XOFF, port->window);
    Command(CMD_SET_XON, port->window);
    Command(CMD_SET_BREAK, port->window);
    Sim::FailCall(Sim::CALL_ESCAPE, ERROR_BAD_COMMAND);
    Command(CMD_CLEAR_BREAK, port->window);
    EXPECT_EQ((std::vector<DWORD>{SETXOFF, SETXON, SETBREAK}), Sim::Escapes(5));
    EXPECT_TRUE(ScreenHas(port, "<SETXOFF set><SETXON set><SETBREAK set><CLRBREAK set>"));
    Command(CMD_CLEAR_SCREEN, port->window);
    EXPECT_FALSE(ScreenHas(port, "<"));
    EXPECT_EQ(0, port->currentLine);

    const char* inputs = "These are inputs, so cannot be controlled!";
    const char* handshake = "Can't override RTS when in handshake mode in NT!";
    const LONG NT = VER_PLATFORM_WIN32_NT, OTHER = VER_PLATFORM_WIN32_WINDOWS;
    const int* X = SignalLampX;
    const int rtsEnd = X[LAMP_RTS] + SignalLampWidth[LAMP_RTS];
    const struct {
        LONG platform;
        DWORD rtsControl;
        int x, y;
        UINT button;
        std::vector<DWORD> escapes;
        const char* box;
        unsigned short outputs;
    } cases[] = {
        {OTHER, RTS_CONTROL_ENABLE, X[4], 5, WM_LBUTTONUP, {}, nullptr, 3}, // edges and gaps
        {OTHER, RTS_CONTROL_ENABLE, rtsEnd, 5, WM_RBUTTONUP, {}, nullptr, 3},
        {OTHER, RTS_CONTROL_ENABLE, X[4] + 2, LAMP_STRIP_HEIGHT, WM_LBUTTONUP, {}, nullptr, 3},
        {OTHER, RTS_CONTROL_ENABLE, X[1] - 1, 5, WM_LBUTTONUP, {}, nullptr, 3},
        {OTHER, RTS_CONTROL_ENABLE, X[4] - 5, 5, WM_RBUTTONUP, {}, nullptr, 3},
        {NT, RTS_CONTROL_ENABLE, rtsEnd - 1, 5, WM_LBUTTONUP, {CLRRTS}, nullptr, SIGNAL_DTR},
        {NT,
         RTS_CONTROL_ENABLE,
         X[4] + 1,
         LAMP_STRIP_HEIGHT - 1,
         WM_RBUTTONUP,
         {SETRTS},
         nullptr,
         3},
        {NT, RTS_CONTROL_ENABLE, X[5] + 9, 5, WM_LBUTTONUP, {CLRDTR}, nullptr, SIGNAL_RTS},
        {NT, RTS_CONTROL_ENABLE, X[5] + 9, 5, WM_LBUTTONUP, {SETDTR}, nullptr, 3},
        {NT, RTS_CONTROL_ENABLE, X[6] + 9, 5, WM_LBUTTONUP, {}, nullptr, 3 | SIGNAL_LOOP},
        {NT, RTS_CONTROL_ENABLE, X[6] + 9, 5, WM_LBUTTONUP, {}, nullptr, 3},
        {NT, RTS_CONTROL_HANDSHAKE, X[4] + 9, 5, WM_LBUTTONUP, {}, handshake, 3},
        {NT, RTS_CONTROL_TOGGLE, X[4] + 9, 5, WM_LBUTTONUP, {}, handshake, 3},
        {OTHER, RTS_CONTROL_HANDSHAKE, X[4] + 9, 5, WM_LBUTTONUP, {CLRRTS}, nullptr, SIGNAL_DTR},
        {NT, RTS_CONTROL_ENABLE, X[4] + 9, 5, WM_LBUTTONUP, {SETRTS}, nullptr, 3},
        {NT, RTS_CONTROL_ENABLE, X[0] + 9, 5, WM_LBUTTONUP, {}, inputs, 3},
        {NT, RTS_CONTROL_ENABLE, X[1] + 9, 5, WM_RBUTTONUP, {}, inputs, 3},
        {NT, RTS_CONTROL_ENABLE, X[3] + 9, 5, WM_LBUTTONUP, {}, inputs, 3},
    };
    size_t escapes = Sim::Escapes(5).size();
    Sim::ClearFaults();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        boxes.boxes.clear();
        PlatformId = c.platform;
        port->dcb.fRtsControl = c.rtsControl;
        Click(c.x, c.y, c.button);
        std::vector<DWORD> all = Sim::Escapes(5);
        EXPECT_EQ(c.escapes, std::vector<DWORD>(all.begin() + escapes, all.end()));
        escapes = all.size();
        EXPECT_EQ(c.box ? Texts{c.box} : Texts{}, boxes.All());
        if (c.box) {
            EXPECT_EQ("", boxes.boxes[0].caption);
            EXPECT_EQ((UINT)MB_OK, boxes.boxes[0].style);
            EXPECT_EQ(port->window, boxes.boxes[0].owner);
        }
        EXPECT_EQ(c.outputs, port->outputSignals);
        EXPECT_EQ((c.outputs & SIGNAL_LOOP) != 0, Sim::LoopbackOn(5));
    }
    Sim::AddPort(6);
    Sim::SetLoopbackAnswer(6, FALSE); // without the driver's switch there is no LOOP lamp
    port = OpenWindow(6);
    Click(X[6] + 9, 5);
    EXPECT_EQ(3, port->outputSignals);
    // A port closed while its box is up is left alone.
    boxes.onBox = [](const ShownBox&) { SendMessageA(FrameWindow, WM_QUERYENDSESSION, 0, 0); };
    Click(X[0] + 9, 5);
    EXPECT_EQ(0, PortWindows());
    EXPECT_EQ(0, Sim::OpenHandles());
}
