#include "common/message_box.h"
#include "common/state.h"
#include "dialogs/dialog_controls.h"
#include "dialogs/dialogs.h"
#include "dialogs/line_settings.h"
#include "port/line_control.h"
#include "port/port_record.h"
#include "port/transfer.h"

#include <limits.h>
#include <new>
#include <stdio.h>

static const char* const QuantityItems[] = {"1 Ports",  "2 Ports",  "4 Ports",  "8 Ports",
                                            "16 Ports", "24 Ports", "32 Ports", "64 Ports"};
#define COUNT_OF(a) (int)(sizeof(a) / sizeof((a)[0]))

static void FillFromPortList(HWND dialog)
{
    SendDlgItemMessageA(dialog, IDC_FROM_PORT, CB_RESETCONTENT, 0, 0);
    for (int n = 1; n <= HIGHEST_PORT; n++) {
        char text[16];
        snprintf(text, sizeof text, "COM%d", n);
        SendDlgItemMessageA(dialog, IDC_FROM_PORT, CB_ADDSTRING, 0, (LPARAM)text);
    }
    SendDlgItemMessageA(dialog, IDC_FROM_PORT, CB_SETCURSEL, 4, 0);
}

static void InitOpenPorts(HWND dialog)
{
    FillBaudList(dialog, 7);
    FillFromPortList(dialog);
    FillList(dialog, IDC_QUANTITY, QuantityItems, COUNT_OF(QuantityItems), 0);
    FillLineLists(dialog, 1, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE);
}

static HWND CreatePortWindow()
{
    MDICREATESTRUCTA create = {};
    create.szClass = VANT_PORT_CLASS;
    create.szTitle = "ComX";
    create.hOwner = AppInstance;
    create.x = CW_USEDEFAULT;
    create.y = CW_USEDEFAULT;
    create.cx = CW_USEDEFAULT;
    create.cy = CW_USEDEFAULT;
    create.style = 0;
    create.lParam = 0;
    return (HWND)SendMessageA(MdiClient, WM_MDICREATE, 0, (LPARAM)&create);
}

// A failed read leaves the DCB as it was: a new record's is zeroed with its
// length set. Returns 1 when the record was deleted inside the read's box.
static int ApplyDialogSettings(HWND dialog, PortRecord* port, const RecordWatch& watch)
{
    ReadLineSettings(port);
    if (watch.closed)
        return 1;
    ApplyLineSettings(dialog, port);
    WriteLineSettings(port);
    return watch.closed;
}

// Opens one port of the run and gives it a window. Returns 1 when the run
// must stop.
static int OpenOnePort(HWND dialog, int number)
{
    PortRecord* port = new (std::nothrow) PortRecord;
    if (!port)
        return 1;
    CurrentPort = port;
    char name[20];
    snprintf(name, sizeof name, "COM%d", number);
    if (OpenPort(CurrentPort, name) != 0) {
        // Never linked and holding no device: nothing else will free it.
        CurrentPort = nullptr;
        delete port;
        ShowMessageBox(GetFocus(), "Port failed to open.", nullptr, MB_OK);
        return 0;
    }
    EnableMenuItem(AppMenu, MENU_SETTINGS_POSITION, MF_BYPOSITION | MF_ENABLED);
    EnableMenuItem(AppMenu, MENU_WINDOW_POSITION, MF_BYPOSITION | MF_ENABLED);

    // The window takes the record over and frees it when it is destroyed,
    // which may happen inside any box shown from here on.
    RecordWatch watch;
    WatchRecord(&watch, port);
    HWND window = CreatePortWindow();
    if (!window) {
        // Open and polled but with no window that could ever close it.
        if (!watch.closed)
            delete port;
        UnwatchRecord(&watch);
        CurrentPort = nullptr;
        ShowMessageBox(GetFocus(), "Port No Open.", "", MB_OK);
        return 1;
    }
    // A window closed already, or inside a settings box, means the program
    // is closing its ports (a log-off or Close): the run stops there.
    int gone = watch.closed;
    if (!gone) {
        SettingsTargetPort = port;
        gone = ApplyDialogSettings(dialog, port, watch);
    }
    UnwatchRecord(&watch);
    return gone;
}

static void OpenPortRun(HWND dialog)
{
    long first, count;
    if (!ReadLeadingNumber(dialog, IDC_FROM_PORT, 3, &first))
        return;
    if (!ReadLeadingNumber(dialog, IDC_QUANTITY, 0, &count) || count < 1)
        return;
    // In 64 bits so a huge quantity cannot wrap; no port number beyond what
    // "COM%d" can name.
    long long last = (long long)first + count - 1;
    if (last > INT_MAX)
        last = INT_MAX;
    for (long long n = first; n <= last; n++) {
        if (OpenOnePort(dialog, (int)n))
            return;
    }
}

static void OnOpenPortsCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        EndDialog(dialog, 0);
        OpenPortRun(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    }
}

INT_PTR CALLBACK OpenPortsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitOpenPorts(dialog);
        break;
    case WM_COMMAND:
        OnOpenPortsCommand(dialog, wParam);
        break;
    }
    return 0;
}
