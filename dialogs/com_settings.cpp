#include "common/state.h"
#include "dialogs/dialog_controls.h"
#include "dialogs/dialogs.h"
#include "dialogs/line_settings.h"
#include "port/line_control.h"
#include "port/port_record.h"
#include "port/transfer.h"

static int BaudRateIndex(DWORD rate)
{
    for (int i = 0; BaudRateList[i]; i++)
        if (BaudRateList[i] == rate)
            return i;
    return 0;
}

static void CheckIf(HWND dialog, int control, DWORD on)
{
    CheckDlgButton(dialog, control, on ? BST_CHECKED : BST_UNCHECKED);
}

// The read's box runs a message loop in which the port's window may be
// closed; the dialog then ends as Cancel would, touching nothing of the record.
void FillComSettings(HWND dialog)
{
    PortRecord* port = SettingsTargetPort;
    if (!port)
        return;
    RecordWatch watch;
    WatchRecord(&watch, port);
    ReadLineSettings(port);
    UnwatchRecord(&watch);
    if (watch.closed) {
        EndDialog(dialog, 0);
        return;
    }
    const DCB& dcb = port->dcb;
    FillBaudList(dialog, BaudRateIndex(dcb.BaudRate));
    FillLineLists(dialog, dcb.ByteSize == 7 ? 0 : 1, dcb.Parity, dcb.StopBits, dcb.fRtsControl,
                  dcb.fDtrControl);
    CheckIf(dialog, IDC_RX_XONXOFF, dcb.fInX);
    CheckIf(dialog, IDC_CTS_FLOW, dcb.fOutxCtsFlow);
    CheckIf(dialog, IDC_DSR_FLOW, dcb.fOutxDsrFlow);
    CheckIf(dialog, IDC_TX_XONXOFF, dcb.fOutX);
}

static void ApplyComSettings(HWND dialog)
{
    PortRecord* port = SettingsTargetPort;
    if (!port)
        return;
    if (ApplyLineSettings(dialog, port, 1) == 0)
        WriteLineSettings(port);
}

static void OnComSettingsCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        ApplyComSettings(dialog);
        EndDialog(dialog, 0);
        break;
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    }
}

INT_PTR CALLBACK ComSettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        FillComSettings(dialog);
        break;
    case WM_COMMAND:
        OnComSettingsCommand(dialog, wParam);
        break;
    }
    return 0;
}
