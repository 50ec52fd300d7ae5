#include "app/frame.h"

#include "app/poll.h"
#include "app/query.h"
#include "common/message_box.h"
#include "common/resource.h"
#include "common/state.h"
#include "dialogs/dialogs.h"
#include "port/capture.h"
#include "port/port_record.h"
#include "view/paint.h"
#include "view/port_window.h"

#include <stdio.h>

GetMessageFn GetNextMessage = GetMessageA;

// Set once the system has asked whether the session may end.
static int SessionEnding = 0;

// Period 0 asks for the shortest the system gives (10 ms on NT and under Wine).
#define POLL_TIMER_ID 0
#define POLL_TIMER_MS 0
// Runs of failed GetMessage calls longer than this are slowed down.
#define LOOP_FAILURES_BEFORE_BACKOFF 3
#define LOOP_BACKOFF_MS 10
#define ABOUT_VERSION "2.0"
#define ABOUT_NOTICE "A test terminal for multi-port serial adapters."

// The "&Port" popup, which the MDI client extends with the list of port windows.
static HMENU WindowMenu = nullptr;

static void RegisterWindowClasses(HINSTANCE instance)
{
    WNDCLASSA frameClass;
    ZeroMemory(&frameClass, sizeof frameClass);
    frameClass.style = CS_HREDRAW | CS_VREDRAW;
    frameClass.lpfnWndProc = FrameWndProc;
    frameClass.hInstance = instance;
    frameClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VANT_ICON));
    frameClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    frameClass.hbrBackground = (HBRUSH)(COLOR_APPWORKSPACE + 1);
    frameClass.lpszClassName = VANT_FRAME_CLASS;
    RegisterClassA(&frameClass);

    WNDCLASSA portClass;
    ZeroMemory(&portClass, sizeof portClass);
    portClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    portClass.lpfnWndProc = PortWndProc;
    // The slot holds a PortRecord pointer, so it must be pointer-sized.
    portClass.cbWndExtra = sizeof(LONG_PTR);
    portClass.hInstance = instance;
    portClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VANT_ICON));
    portClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    portClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    portClass.lpszClassName = VANT_PORT_CLASS;
    RegisterClassA(&portClass);
}

HACCEL StartApplication(HINSTANCE instance, int show)
{
    AppInstance = instance;
    LayoutLampRows();
    RegisterWindowClasses(instance);
    AppMenu = LoadMenuA(instance, RESOURCE_NAME(VANT_MENU));
    WindowMenu = GetSubMenu(AppMenu, MENU_PORT_POSITION);
    HACCEL accelerators = LoadAcceleratorsA(instance, RESOURCE_NAME(VANT_ACCELERATORS));
    DeterminePlatform();
    FrameWindow = CreateWindowExA(0, VANT_FRAME_CLASS, "Tarnwick", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, AppMenu, instance, nullptr);
    ShowWindow(FrameWindow, show);
    UpdateWindow(FrameWindow);
    return accelerators;
}

// GetMessage answers -1 when it cannot deliver a message (Wine does for a
// WM_COPYDATA of a few megabytes from another process). That message is lost,
// not the program: only 0, WM_QUIT, ends the loop.
static void NoteFailedGetMessage(int failures)
{
    if (failures == 1) {
        char text[80];
        snprintf(text, sizeof text, "Tarnwick: GetMessage failed, error %lu\n", GetLastError());
        OutputDebugStringA(text);
    }
    if (failures > LOOP_FAILURES_BEFORE_BACKOFF)
        Sleep(LOOP_BACKOFF_MS);
}

int RunMessageLoop(HACCEL accelerators)
{
    MSG message;
    ZeroMemory(&message, sizeof message);
    int failures = 0;
    for (;;) {
        BOOL got = GetNextMessage(&message, nullptr, 0, 0);
        if (got == 0)
            break;
        if (got == -1) {
            NoteFailedGetMessage(++failures);
            continue;
        }
        failures = 0;
        if (TranslateMDISysAccel(MdiClient, &message))
            continue;
        if (TranslateAcceleratorA(FrameWindow, accelerators, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

static LRESULT CreateFrame(HWND window)
{
    FrameWindow = window;
    EnableMenuItem(AppMenu, MENU_SETTINGS_POSITION, MF_BYPOSITION | MF_DISABLED);
    EnableMenuItem(AppMenu, MENU_WINDOW_POSITION, MF_BYPOSITION | MF_DISABLED);

    CLIENTCREATESTRUCT client;
    client.hWindowMenu = WindowMenu;
    client.idFirstChild = CMD_WINDOW_LIST_FIRST;
    MdiClient = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                                0, 0, 0, window, nullptr, AppInstance, &client);
    SetTimer(window, POLL_TIMER_ID, POLL_TIMER_MS, nullptr);
    return 0;
}

static void CheckMenuCommand(int command, int on)
{
    CheckMenuItem(AppMenu, command, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

static void CloseActivePortWindow()
{
    HWND active = (HWND)SendMessageA(MdiClient, WM_MDIGETACTIVE, 0, 0);
    if (!active)
        return;
    if (SendMessageA(active, WM_QUERYENDSESSION, 0, 0))
        SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)active, 0);
}

static void ShowAbout(HWND window)
{
    char text[200];
    snprintf(text, sizeof text, "Tarnwick version %s\n\n%s", ABOUT_VERSION, ABOUT_NOTICE);
    ShowMessageBox(window, text, "About Tarnwick", MB_ICONINFORMATION);
}

static LRESULT ForwardToActivePort(HWND window, WPARAM wParam, LPARAM lParam)
{
    HWND active = (HWND)SendMessageA(MdiClient, WM_MDIGETACTIVE, 0, 0);
    if (IsWindow(active))
        SendMessageA(active, WM_COMMAND, wParam, lParam);
    // Command 201 destroys the frame while it is being forwarded.
    if (!IsWindow(window))
        return 0;
    return DefFrameProcA(window, MdiClient, WM_COMMAND, wParam, lParam);
}

static LRESULT DispatchFrameCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case CMD_SEND_TEST_DATA:
        TestDataOn = !TestDataOn;
        CheckMenuCommand(CMD_SEND_TEST_DATA, TestDataOn);
        return 0;
    case CMD_CLOSE:
        CloseActivePortWindow();
        return 0;
    case CMD_SHOW_CRLF:
        ShowCrLf = !ShowCrLf;
        CheckMenuCommand(CMD_SHOW_CRLF, ShowCrLf);
        for (PortRecord* port = PortListHead; port; port = port->next)
            PaintPortNow(port);
        return 0;
    case CMD_TILE:
        SendMessageA(MdiClient, WM_MDITILE, 0, 0);
        return 0;
    case CMD_CASCADE:
        SendMessageA(MdiClient, WM_MDICASCADE, 0, 0);
        return 0;
    case CMD_ARRANGE_ICONS:
        SendMessageA(MdiClient, WM_MDIICONARRANGE, 0, 0);
        return 0;
    case CMD_CLOSE_ALL:
        EnumChildWindows(MdiClient, CloseOnePortWindow, 0);
        return 0;
    case CMD_OPEN_PORTS:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_OPEN_PORTS), window, OpenPortsDlgProc, 0);
        return 0;
    case CMD_ABOUT:
        ShowAbout(window);
        return 0;
    default:
        return ForwardToActivePort(window, wParam, lParam);
    }
}

BOOL CALLBACK CloseOnePortWindow(HWND window, LPARAM)
{
    if (GetWindow(window, GW_OWNER))
        return TRUE;
    HWND parent = GetParent(window);
    SendMessageA(parent, WM_MDIRESTORE, (WPARAM)window, 0);
    if (!SendMessageA(window, WM_QUERYENDSESSION, 0, 0))
        return TRUE;
    SendMessageA(parent, WM_MDIDESTROY, (WPARAM)window, 0);
    return TRUE;
}

LRESULT CALLBACK FrameWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return CreateFrame(window);
    case WM_DESTROY:
        // DestroyWindow hides a window before telling it; a WM_DESTROY that
        // merely arrives from outside must not end the program.
        if (IsWindowVisible(window))
            return 0;
        FinishCaptures(CAPTURE_FINISH_WAIT_MS);
        PostQuitMessage(0);
        return 0;
    case WM_QUIT:
        PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION:
        SessionEnding = 1;
        SendMessageA(window, WM_COMMAND, CMD_CLOSE_ALL, 0);
        break;
    case WM_CLOSE:
        SendMessageA(window, WM_COMMAND, CMD_CLOSE_ALL, 0);
        break;
    case WM_ENDSESSION:
        // The system may end the process as soon as this returns; one that
        // merely arrives from outside ends nothing.
        if (wParam && SessionEnding)
            FinishCaptures(CAPTURE_FINISH_WAIT_MS);
        break;
    case WM_TIMER:
        PollAllPorts();
        break;
    case WM_COMMAND:
        return DispatchFrameCommand(window, wParam, lParam);
    case WM_COPYDATA:
        return ServeQuery(window, (const COPYDATASTRUCT*)lParam);
    }
    return DefFrameProcA(window, MdiClient, message, wParam, lParam);
}
