// The frame window, its resources, command routing and the message loop, run
// for real under the window system with ports on the simulated adapter.
#include "app/commands.h"
#include "app/frame.h"
#include "app/state.h"
#include "dialogs/line_settings.h"
#include "port/port_record.h"
#include "sim/sim.h"
#include "tests/shell_helpers.h"
#include "tests/test_support.h"

#include <functional>
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

// Records what the MDI client is asked to do.
static WNDPROC RealClientProc;
static std::vector<UINT> ClientMessages;

static LRESULT CALLBACK RecordingClient(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_MDICREATE && message <= WM_MDIREFRESHMENU)
        ClientMessages.push_back(message);
    return CallWindowProcA(RealClientProc, window, message, wParam, lParam);
}

// Records the commands a port window receives.
static WNDPROC RealPortProc;
static std::vector<std::pair<HWND, WORD>> PortCommands;

static LRESULT CALLBACK RecordingPort(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        PortCommands.push_back({window, LOWORD(wParam)});
    return CallWindowProcA(RealPortProc, window, message, wParam, lParam);
}

static bool MenuFlag(HMENU menu, UINT item, UINT by, UINT flag)
{
    return (GetMenuState(menu, item, by) & flag) != 0;
}

class FrameTest : public RunningFrameTest
{
  protected:
    void SetUp() override
    {
        RunningFrameTest::SetUp();
        Sim::AddPorts(5, 4);
        ClientMessages.clear();
        PortCommands.clear();
    }

    void TearDown() override
    {
        if (RealClientProc && IsWindow(MdiClient))
            SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RealClientProc);
        RealClientProc = nullptr;
        RunningFrameTest::TearDown();
    }

    void WatchClient()
    {
        RealClientProc =
            (WNDPROC)SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RecordingClient);
    }

    void WatchPort(PortRecord* port)
    {
        WNDPROC previous =
            (WNDPROC)SetWindowLongPtrA(port->window, GWLP_WNDPROC, (LONG_PTR)RecordingPort);
        RealPortProc = previous;
    }

    LRESULT Command(WORD id, WORD high = 0)
    {
        return SendMessageA(FrameWindow, WM_COMMAND, MAKEWPARAM(id, high), 0);
    }
};

// --- resources ---

typedef FrameTest FrameResources;

TEST_F(FrameResources, MenuBarHasTheFourEntriesInOrder)
{
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "VANTAPMENU");
    ASSERT_TRUE(menu);
    ASSERT_EQ(4, GetMenuItemCount(menu));
    const char* titles[] = {"&Port", "&Settings", "&Window", "&About"};
    for (int i = 0; i < 4; i++) {
        char text[64];
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(titles[i], text);
    }
    EXPECT_EQ(nullptr, GetSubMenu(menu, 3));
    EXPECT_EQ((UINT)CMD_ABOUT, GetMenuItemID(menu, 3));
    DestroyMenu(menu);
}

TEST_F(FrameResources, PopupsHoldTheirItemsAndSeparators)
{
    struct Item {
        int popup;
        UINT id; // 0: a separator
        const char* text;
    };
    const Item items[] = {
        {0, CMD_OPEN_PORTS, "&Open Port(s)"},
        {0, CMD_CLOSE, "&Close"},
        {0, 0, ""},
        {0, CMD_SEND_TEST_DATA, "Send Test Data"},
        {0, 0, ""},
        {0, CMD_CLEAR_SCREEN, "Clear Screen"},
        {1, CMD_PORT_SETTINGS, "&Port Settings..."},
        {2, CMD_TILE, "&Tile"},
        {2, CMD_CASCADE, "&Cascade"},
        {2, CMD_CLOSE_ALL, "Clo&se All"},
    };
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "VANTAPMENU");
    int position[3] = {0, 0, 0};
    for (const Item& item : items) {
        HMENU popup = GetSubMenu(menu, item.popup);
        int at = position[item.popup]++;
        UINT state = GetMenuState(popup, at, MF_BYPOSITION);
        if (item.id == 0) {
            EXPECT_TRUE(state & MF_SEPARATOR) << "popup " << item.popup << " item " << at;
            continue;
        }
        char text[64];
        GetMenuStringA(popup, at, text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(item.id, GetMenuItemID(popup, at));
        EXPECT_STREQ(item.text, text);
        EXPECT_EQ(0u, state & (MF_CHECKED | MF_GRAYED | MF_DISABLED)) << item.text;
    }
    for (int p = 0; p < 3; p++)
        EXPECT_EQ(position[p], GetMenuItemCount(GetSubMenu(menu, p)));
    DestroyMenu(menu);
}

TEST_F(FrameResources, AcceleratorsAreShiftF5CascadeAndShiftF4Tile)
{
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), "VantAccel");
    ASSERT_TRUE(table);
    ACCEL entries[4];
    ASSERT_EQ(2, CopyAcceleratorTableA(table, entries, 4));
    EXPECT_EQ(FVIRTKEY | FSHIFT, entries[0].fVirt);
    EXPECT_EQ(VK_F5, entries[0].key);
    EXPECT_EQ(CMD_CASCADE, entries[0].cmd);
    EXPECT_EQ(FVIRTKEY | FSHIFT, entries[1].fVirt);
    EXPECT_EQ(VK_F4, entries[1].key);
    EXPECT_EQ(CMD_TILE, entries[1].cmd);

    // As stored: the last entry carries the end mark, neither has FNOINVERT.
    HRSRC found = FindResourceA(nullptr, "VANTACCEL", (LPCSTR)RT_ACCELERATOR);
    ASSERT_TRUE(found);
    ASSERT_EQ(16u, SizeofResource(nullptr, found));
    const WORD* raw = (const WORD*)LockResource(LoadResource(nullptr, found));
    EXPECT_EQ(0x05, raw[0]);
    EXPECT_EQ(0x85, raw[4]);
}

TEST_F(FrameResources, IconGroupHasTheFiveImagesInOrder)
{
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bits;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_VANT_ICON), (LPCSTR)RT_GROUP_ICON);
    ASSERT_TRUE(found);
    const WORD* header = (const WORD*)LockResource(LoadResource(nullptr, found));
    ASSERT_EQ(1, header[1]);
    ASSERT_EQ(5, header[2]);
    const GroupEntry* entry = (const GroupEntry*)(header + 3);
    const int sizes[5] = {32, 32, 48, 16, 32};
    const int bits[5] = {4, 8, 8, 4, 1};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(sizes[i], entry[i].width) << i;
        EXPECT_EQ(sizes[i], entry[i].height) << i;
        EXPECT_EQ(bits[i], entry[i].bits) << i;
    }
    EXPECT_TRUE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_VANT_ICON)));
}

TEST_F(FrameResources, VersionIsOneAndFileVersionTextTwo)
{
    typedef DWORD(WINAPI * SizeFn)(LPCSTR, LPDWORD);
    typedef BOOL(WINAPI * InfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
    typedef BOOL(WINAPI * QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    HMODULE version = LoadLibraryA("version.dll");
    ASSERT_TRUE(version);
    SizeFn size = (SizeFn)(void*)GetProcAddress(version, "GetFileVersionInfoSizeA");
    InfoFn info = (InfoFn)(void*)GetProcAddress(version, "GetFileVersionInfoA");
    QueryFn query = (QueryFn)(void*)GetProcAddress(version, "VerQueryValueA");
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD handle = 0;
    std::vector<char> block(size(path, &handle));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(info(path, 0, (DWORD)block.size(), block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), "\\", (LPVOID*)&fixed, &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);

    auto text = [&](const char* name) {
        std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
        char* value = nullptr;
        UINT chars = 0;
        if (!query(block.data(), key.c_str(), (LPVOID*)&value, &chars))
            return std::string("(missing)");
        return std::string(value);
    };
    EXPECT_EQ("2.0", text("FileVersion"));
    EXPECT_EQ("1.0", text("ProductVersion"));
    EXPECT_EQ("Tarnwick", text("InternalName"));
    FreeLibrary(version);
}

TEST_F(FrameResources, ManifestAsksForCommonControlsSix)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), (LPCSTR)RT_MANIFEST);
    ASSERT_TRUE(found);
    std::string manifest((const char*)LockResource(LoadResource(nullptr, found)),
                         SizeofResource(nullptr, found));
    EXPECT_NE(std::string::npos, manifest.find("Microsoft.Windows.Common-Controls"));
    EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("dpiAware"));
}

// --- start-up ---

typedef FrameTest FrameStartUp;

TEST_F(FrameStartUp, ClassesAreRegisteredAsTheFrameAndPortWindowsNeed)
{
    WNDCLASSA frame, port;
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "VantFrame", &frame));
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "VantDraw", &port));
    EXPECT_EQ((UINT)(CS_HREDRAW | CS_VREDRAW), frame.style);
    EXPECT_EQ((HBRUSH)(COLOR_APPWORKSPACE + 1), frame.hbrBackground);
    EXPECT_EQ(0, frame.cbWndExtra);
    EXPECT_TRUE(frame.hIcon);
    EXPECT_EQ(0x23u, port.style);
    EXPECT_EQ((HBRUSH)(COLOR_WINDOW + 1), port.hbrBackground);
    // A pointer must fit whole in the window's slot.
    EXPECT_EQ((int)sizeof(LONG_PTR), port.cbWndExtra);
    EXPECT_TRUE(port.hIcon);
}

TEST_F(FrameStartUp, FrameHoldsMenuAndMdiClient)
{
    char title[32];
    GetWindowTextA(FrameWindow, title, sizeof title);
    EXPECT_STREQ("Tarnwick", title);
    EXPECT_EQ(AppMenu, GetMenu(FrameWindow));
    EXPECT_EQ(FrameWindow, GetParent(MdiClient));
    EXPECT_EQ(MdiClient, GetWindow(FrameWindow, GW_CHILD));
    EXPECT_EQ(VER_PLATFORM_WIN32_NT, PlatformId);
    EXPECT_EQ(0, ShowCrLf);
    EXPECT_EQ(0, TestDataOn);
}

TEST_F(FrameStartUp, SettingsAndWindowPopupsAreDisabledNotGrayed)
{
    EXPECT_TRUE(MenuFlag(AppMenu, 1, MF_BYPOSITION, MF_DISABLED));
    EXPECT_TRUE(MenuFlag(AppMenu, 2, MF_BYPOSITION, MF_DISABLED));
    EXPECT_FALSE(MenuFlag(AppMenu, 1, MF_BYPOSITION, MF_GRAYED));
    EXPECT_FALSE(MenuFlag(AppMenu, 0, MF_BYPOSITION, MF_DISABLED | MF_GRAYED));
    EXPECT_FALSE(MenuFlag(AppMenu, 3, MF_BYPOSITION, MF_DISABLED | MF_GRAYED));
}

TEST_F(FrameStartUp, PollTimerTicksAndServicesPorts)
{
    PortRecord* port = OpenPortWindow(5);
    ASSERT_TRUE(port);
    Sim::PeerSend(5, "hello", 5);
    MSG tick;
    int waits = 0;
    while (!PeekMessageA(&tick, FrameWindow, WM_TIMER, WM_TIMER, PM_REMOVE) && waits++ < 100)
        WaitMessage();
    ASSERT_EQ((UINT)WM_TIMER, tick.message);
    DispatchMessageA(&tick);
    EXPECT_TRUE(ScreenHas(port, "hello"));
}

// The Open Ports dialog, answered as soon as it is up.
static HHOOK DialogHook;
static std::function<void(HWND)> DialogAction;

static LRESULT CALLBACK ActOnDialog(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && DialogAction) {
        char name[16];
        GetClassNameA((HWND)wParam, name, sizeof name);
        if (strcmp(name, "#32770") == 0) {
            auto action = DialogAction;
            DialogAction = nullptr;
            action((HWND)wParam);
            // Whatever the action did, the dialog ends rather than waiting for a user.
            PostMessageA((HWND)wParam, WM_COMMAND, IDCANCEL, 0);
        }
    }
    return CallNextHookEx(DialogHook, code, wParam, lParam);
}

TEST_F(FrameStartUp, OpeningAPortEnablesSettingsAndWindowForGood)
{
    bool seen = false;
    DialogAction = [&](HWND dialog) {
        seen = true;
        SendDlgItemMessageA(dialog, IDC_FROM_PORT, CB_SETCURSEL, 4, 0); // COM5
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     (LPARAM)GetDlgItem(dialog, IDOK));
    };
    DialogHook = SetWindowsHookExA(WH_CBT, ActOnDialog, nullptr, GetCurrentThreadId());
    Command(CMD_OPEN_PORTS);
    UnhookWindowsHookEx(DialogHook);
    DialogAction = nullptr;
    ASSERT_TRUE(seen);
    ASSERT_TRUE(FindOpenPort("COM5"));
    EXPECT_FALSE(MenuFlag(AppMenu, 1, MF_BYPOSITION, MF_DISABLED | MF_GRAYED));
    EXPECT_FALSE(MenuFlag(AppMenu, 2, MF_BYPOSITION, MF_DISABLED | MF_GRAYED));

    CloseAllPortWindows();
    EXPECT_FALSE(MenuFlag(AppMenu, 1, MF_BYPOSITION, MF_DISABLED | MF_GRAYED));
    EXPECT_FALSE(MenuFlag(AppMenu, 2, MF_BYPOSITION, MF_DISABLED | MF_GRAYED));
}

// --- command routing ---

typedef FrameTest FrameCommands;

TEST_F(FrameCommands, SendTestDataAndShowCrLfFlip)
{
    Command(CMD_SHOW_CRLF);
    EXPECT_EQ(1, ShowCrLf);
    Command(CMD_SHOW_CRLF);
    EXPECT_EQ(0, ShowCrLf);
    EXPECT_EQ(0, Command(CMD_SEND_TEST_DATA));
    EXPECT_EQ(1, TestDataOn);
    EXPECT_TRUE(MenuFlag(AppMenu, CMD_SEND_TEST_DATA, MF_BYCOMMAND, MF_CHECKED));
    EXPECT_EQ(0, Command(CMD_SEND_TEST_DATA, 1)); // as from an accelerator
    EXPECT_EQ(0, TestDataOn);
    EXPECT_FALSE(MenuFlag(AppMenu, CMD_SEND_TEST_DATA, MF_BYCOMMAND, MF_CHECKED));
}

TEST_F(FrameCommands, FrameCommandsAreNotForwarded)
{
    PortRecord* port = OpenPortWindow(5);
    ASSERT_TRUE(port);
    WatchPort(port);
    Command(CMD_SEND_TEST_DATA);
    Command(CMD_SHOW_CRLF);
    Command(CMD_TILE);
    Command(CMD_CASCADE);
    Command(CMD_ARRANGE_ICONS);
    EXPECT_TRUE(PortCommands.empty());
}

TEST_F(FrameCommands, ForwardedCommandReachesOnlyTheActivePortWindow)
{
    PortRecord* first = OpenPortWindow(5);
    PortRecord* second = OpenPortWindow(6);
    ASSERT_TRUE(first && second);
    ASSERT_EQ(second->window, ActivePortWindow());
    Command(CMD_CLEAR_BREAK);
    EXPECT_TRUE(ScreenHas(second, "<CLRBREAK set>"));
    EXPECT_FALSE(ScreenHas(first, "<CLRBREAK set>"));
    EXPECT_EQ(std::vector<DWORD>{CLRBREAK}, Sim::Escapes(6));
    EXPECT_TRUE(Sim::Escapes(5).empty());

    SendMessageA(MdiClient, WM_MDIACTIVATE, (WPARAM)first->window, 0);
    Command(CMD_SET_BREAK);
    EXPECT_TRUE(ScreenHas(first, "<SETBREAK set>"));
    EXPECT_FALSE(ScreenHas(second, "<SETBREAK set>"));
}

TEST_F(FrameCommands, UnknownCommandWithoutPortWindowsDoesNothing)
{
    Command(999);
    Command(CMD_CLEAR_SCREEN);
    Command(CMD_CLOSE);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(IsWindow(FrameWindow));
    EXPECT_EQ(0, PortWindowCount());
    EXPECT_EQ(0, TestDataOn);
    EXPECT_EQ(0, ShowCrLf);
}

TEST_F(FrameCommands, UnknownCommandLeavesThePortAlone)
{
    PortRecord* port = OpenPortWindow(5);
    ASSERT_TRUE(port);
    std::string before = ScreenText(port);
    Command(999);
    EXPECT_EQ(before, ScreenText(port));
    EXPECT_TRUE(Sim::Escapes(5).empty());
    EXPECT_TRUE(IsWindow(port->window));
}

TEST_F(FrameCommands, CloseAsksAndDestroysOnlyTheActiveWindow)
{
    PortRecord* first = OpenPortWindow(5);
    PortRecord* second = OpenPortWindow(6);
    ASSERT_TRUE(first && second);
    Command(CMD_CLOSE);
    EXPECT_EQ(1, PortWindowCount());
    EXPECT_FALSE(Sim::IsOpen(6));
    EXPECT_TRUE(Sim::IsOpen(5));
    EXPECT_EQ(first, PortListHead);
}

TEST_F(FrameCommands, TileCascadeAndArrangeGoToTheMdiClient)
{
    WatchClient();
    Command(CMD_TILE);
    Command(CMD_CASCADE);
    Command(CMD_ARRANGE_ICONS);
    EXPECT_EQ((std::vector<UINT>{WM_MDITILE, WM_MDICASCADE, WM_MDIICONARRANGE}), ClientMessages);
}

TEST_F(FrameCommands, AboutBoxShowsTheVersion)
{
    EXPECT_EQ(0, Command(CMD_ABOUT));
    ASSERT_EQ(1u, boxes.boxes.size());
    const ShownBox& box = boxes.boxes[0];
    EXPECT_EQ(0u, box.text.rfind("Tarnwick version 2.0\n\n", 0)) << box.text;
    EXPECT_GT(box.text.size(), strlen("Tarnwick version 2.0\n\n"));
    EXPECT_EQ(std::string::npos, box.text.find('\n', strlen("Tarnwick version 2.0\n\n")));
    EXPECT_EQ("About Tarnwick", box.caption);
    EXPECT_EQ((UINT)MB_ICONINFORMATION, box.style);
    EXPECT_EQ(FrameWindow, box.owner);
}

TEST_F(FrameCommands, LoopbackTestRunsOnTheActivePort)
{
    Sim::AddPort(20, Sim::WIRE_LOOPBACK_PLUG);
    PortRecord* other = OpenPortWindow(5);
    PortRecord* tested = OpenPortWindow(20);
    ASSERT_TRUE(other && tested);
    Command(CMD_SEND_TEST_DATA);
    ASSERT_EQ(1, TestDataOn);
    Command(CMD_LOOPBACK_TEST);
    EXPECT_EQ(0, TestDataOn);
    EXPECT_FALSE(MenuFlag(AppMenu, CMD_SEND_TEST_DATA, MF_BYCOMMAND, MF_CHECKED));
    EXPECT_FALSE(boxes.boxes.empty());
    EXPECT_FALSE(Sim::Escapes(20).empty());
    EXPECT_TRUE(Sim::Escapes(5).empty());
}

// --- closing ---

typedef FrameTest FrameClosing;

TEST_F(FrameClosing, CloseAllRestoresAMaximisedWindowAndClosesEveryPort)
{
    OpenPortWindow(5);
    OpenPortWindow(6);
    PortRecord* top = OpenPortWindow(7);
    ASSERT_TRUE(top);
    SendMessageA(MdiClient, WM_MDIMAXIMIZE, (WPARAM)top->window, 0);
    ASSERT_TRUE(IsZoomed(top->window));
    WatchClient();
    EXPECT_EQ(0, Command(CMD_CLOSE_ALL));
    EXPECT_EQ(0, PortWindowCount());
    EXPECT_EQ(nullptr, PortListHead);
    for (int n = 5; n <= 7; n++)
        EXPECT_FALSE(Sim::IsOpen(n)) << n;
    // Each window was restored before it was destroyed.
    std::vector<UINT> expected;
    for (int i = 0; i < 3; i++) {
        expected.push_back(WM_MDIRESTORE);
        expected.push_back(WM_MDIDESTROY);
    }
    std::vector<UINT> seen;
    for (UINT m : ClientMessages)
        if (m == WM_MDIRESTORE || m == WM_MDIDESTROY)
            seen.push_back(m);
    EXPECT_EQ(expected, seen);
    EXPECT_TRUE(IsWindow(FrameWindow));
}

TEST_F(FrameClosing, EndSessionQueryClosesEveryPortAndAnswersYes)
{
    OpenPortWindow(5);
    OpenPortWindow(6);
    OpenPortWindow(8);
    EXPECT_NE(0, SendMessageA(FrameWindow, WM_QUERYENDSESSION, 0, 0));
    EXPECT_EQ(0, PortWindowCount());
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_EQ(0, Sim::OpenHandles());
    EXPECT_TRUE(IsWindow(FrameWindow));
}

TEST_F(FrameClosing, ExitCommandClosesEveryPortAndEndsTheProgram)
{
    OpenPortWindow(5);
    OpenPortWindow(6);
    HWND frame = FrameWindow;
    Command(CMD_EXIT);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_FALSE(Sim::IsOpen(5));
    EXPECT_FALSE(Sim::IsOpen(6));
    ASSERT_TRUE(QuitQueued());
    EXPECT_EQ(0, RunMessageLoop(accelerators));
}

TEST_F(FrameClosing, CloseBoxClosesPortsFirstThenTheFrame)
{
    PortRecord* port = OpenPortWindow(5);
    ASSERT_TRUE(port);
    HWND frame = FrameWindow;
    SendMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_EQ(0, Sim::OpenHandles());
    ASSERT_TRUE(QuitQueued());
    EXPECT_EQ(0, RunMessageLoop(accelerators));
}

TEST_F(FrameClosing, MessageEighteenEndsTheLoopWithCodeZero)
{
    EXPECT_EQ(0, SendMessageA(FrameWindow, WM_QUIT, 0, 0));
    ASSERT_TRUE(QuitQueued());
    EXPECT_EQ(0, RunMessageLoop(accelerators));
    EXPECT_TRUE(IsWindow(FrameWindow));
}

// --- the message loop ---

typedef FrameTest FrameMessageLoop;

// Runs the message loop over F4 then F5 pressed with or without Shift and
// answers what the MDI client was asked to arrange.
static std::vector<UINT> ArrangedByF4AndF5(HACCEL accelerators, bool shift)
{
    ClientMessages.clear();
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageA(FrameWindow, WM_KEYDOWN, VK_F4, 0x003E0001);
    PostMessageA(FrameWindow, WM_KEYDOWN, VK_F5, 0x003F0001);
    PostQuitMessage(0);
    EXPECT_EQ(0, RunMessageLoop(accelerators));
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    std::vector<UINT> arranged;
    for (UINT m : ClientMessages)
        if (m == WM_MDITILE || m == WM_MDICASCADE)
            arranged.push_back(m);
    return arranged;
}

TEST_F(FrameMessageLoop, ShiftF4TilesAndShiftF5CascadesButPlainKeysDoNot)
{
    OpenPortWindow(5);
    OpenPortWindow(6);
    WatchClient();
    EXPECT_EQ(std::vector<UINT>{}, ArrangedByF4AndF5(accelerators, false));
    EXPECT_EQ((std::vector<UINT>{WM_MDITILE, WM_MDICASCADE}),
              ArrangedByF4AndF5(accelerators, true));
}
