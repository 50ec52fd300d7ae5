#include "view/port_window.h"

#include "common/message_box.h"
#include "common/resource.h"
#include "common/state.h"
#include "dialogs/dialogs.h"
#include "port/line_control.h"
#include "port/loopback.h"
#include "port/port_record.h"
#include "port/screen_text.h"
#include "port/transfer.h"
#include "view/paint.h"

static PortRecord* RecordOf(HWND window)
{
    return (PortRecord*)GetWindowLongPtrA(window, 0);
}

// Every handler hands its record on through CurrentPort, as the dialogs expect.
static PortRecord* TakeRecord(HWND window)
{
    PortRecord* port = RecordOf(window);
    if (port)
        CurrentPort = port;
    return port;
}

static LRESULT TakeOverRecord(HWND window)
{
    PortRecord* port = CurrentPort;
    // Without a fresh record there is nothing for this window to show, and a
    // record that already has a window must not get a second owner.
    if (!port || (port->window && IsWindow(port->window)))
        return -1;
    SetWindowLongPtrA(window, 0, (LONG_PTR)port);
    port->window = window;
    port->createdTicks = GetTickCount();

    HDC surface = GetDC(window);
    SetBkColor(surface, GetSysColor(COLOR_WINDOW));
    SetTextColor(surface, GetSysColor(COLOR_WINDOWTEXT));
    ReleaseDC(window, surface);

    SetWindowTextA(window, port->name);
    AppendText(port, "<Port Opened>", 0);
    SetFocus(window);
    return 0;
}

static void DestroyRecord(HWND window)
{
    ForgetSeenRows(window);
    PortRecord* port = RecordOf(window);
    if (!port)
        return;
    SetWindowLongPtrA(window, 0, 0);
    if (CurrentPort == port)
        CurrentPort = nullptr;
    if (SettingsTargetPort == port)
        SettingsTargetPort = nullptr;
    delete port;
}

static void StoreClientSize(HWND window, LPARAM lParam)
{
    PortRecord* port = TakeRecord(window);
    if (!port)
        return;
    port->clientWidth = LOWORD(lParam);
    port->clientHeight = HIWORD(lParam);
}

static void PaintPortWindow(HWND window)
{
    PortRecord* port = TakeRecord(window);
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    if (port)
        RedrawPort(port, 1);
}

static void SendTypedCharacter(HWND window, WPARAM wParam)
{
    PortRecord* port = TakeRecord(window);
    if (!port)
        return;
    char byte = (char)(wParam & 0xFF);
    WritePort(port, &byte, 1);
}

static void RunPortCommand(HWND window, WPARAM wParam)
{
    PortRecord* port = TakeRecord(window);
    if (!port)
        return;
    SettingsTargetPort = port;
    switch (LOWORD(wParam)) {
    case CMD_EXIT:
        SendMessageA(FrameWindow, WM_CLOSE, 0, 0);
        break;
    case CMD_PORT_SETTINGS:
        DialogBoxParamA(AppInstance, RESOURCE_NAME(VANT_SETTINGS_DIALOG), window,
                        ComSettingsDlgProc, 0);
        break;
    case CMD_CLEAR_SCREEN:
        ClearScreen(port);
        break;
    case CMD_SET_XOFF:
        EscapeWithMarker(port, SETXOFF, "<SETXOFF set>");
        break;
    case CMD_SET_XON:
        EscapeWithMarker(port, SETXON, "<SETXON set>");
        break;
    case CMD_SET_BREAK:
        EscapeWithMarker(port, SETBREAK, "<SETBREAK set>");
        break;
    case CMD_CLEAR_BREAK:
        EscapeWithMarker(port, CLRBREAK, "<CLRBREAK set>");
        break;
    case CMD_LOOPBACK_TEST:
        RunLoopbackTest(port);
        break;
    }
}

static void StoreMousePosition(HWND window, LPARAM lParam)
{
    PortRecord* port = TakeRecord(window);
    if (!port)
        return;
    port->mouseX = LOWORD(lParam);
    port->mouseY = HIWORD(lParam);
}

static void ToggleRts(PortRecord* port)
{
    int handshake = port->dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ||
                    port->dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    if (PlatformId == VER_PLATFORM_WIN32_NT && handshake) {
        ShowMessageBox(GetFocus(), "Can't override RTS when in handshake mode in NT!", "", MB_OK);
        return;
    }
    ToggleOutput(port, SIGNAL_RTS);
}

static void PressLamp(PortRecord* port, int index)
{
    switch (index) {
    case LAMP_RTS:
        ToggleRts(port);
        break;
    case LAMP_DTR:
        ToggleOutput(port, SIGNAL_DTR);
        break;
    case LAMP_LOOP:
        SetLoopback(port, (port->outputSignals & SIGNAL_LOOP) ? 0 : 1);
        break;
    default:
        ShowMessageBox(GetFocus(), "These are inputs, so cannot be controlled!", "", MB_OK);
        break;
    }
}

static void ClickLamp(HWND window)
{
    PortRecord* port = TakeRecord(window);
    if (!port || port->mouseY >= LAMP_STRIP_HEIGHT)
        return;
    int x = port->mouseX;
    for (int index = 0; SignalRowLabels[index] && SignalRowLabels[index][0] &&
                        index < port->signalLampCount && index < LAMP_COUNT;
         index++) {
        // Lamps never overlap, and a box shown for the hit may outlive the record.
        if (SignalLampX[index] < x && x < SignalLampX[index] + SignalLampWidth[index]) {
            PressLamp(port, index);
            return;
        }
    }
}

LRESULT CALLBACK PortWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return TakeOverRecord(window);
    case WM_DESTROY:
        // Only a window being destroyed is hidden; one sent from outside
        // must not close the port under a live window.
        if (!IsWindowVisible(window))
            DestroyRecord(window);
        return 0;
    case WM_SIZE:
        StoreClientSize(window, lParam);
        break;
    case WM_SETFOCUS:
        TakeRecord(window);
        ShowCursor(TRUE);
        break;
    case WM_KILLFOCUS:
        ShowCursor(FALSE);
        break;
    case WM_PAINT:
        PaintPortWindow(window);
        return 0;
    case WM_CHAR:
        SendTypedCharacter(window, wParam);
        return 0;
    case WM_COMMAND:
        RunPortCommand(window, wParam);
        return 0;
    case WM_MOUSEMOVE:
        StoreMousePosition(window, lParam);
        break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        ClickLamp(window);
        break;
    case WM_MDIACTIVATE:
        return 0;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}
