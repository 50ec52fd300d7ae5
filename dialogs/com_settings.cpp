#include "app/state.h"
#include "dialogs/dialog_controls.h"
#include "dialogs/dialogs.h"
#include "dialogs/line_settings.h"
#include "port/device.h"
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

static void ReadDeviceSettings(PortRecord* port)
{
    DCB dcb = port->dcb;
    if (Device.GetCommState(port->device, &dcb))
        port->dcb = dcb;
    else
        ReportCommError("Error from GetCommState:", (int)GetLastError(), nullptr, 0);
}

void FillComSettings(HWND dialog)
{
    PortRecord* port = SettingsTargetPort;
    if (!port)
        return;
    ReadDeviceSettings(port);
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
    // The "ByteSize = %d" box runs a message loop; the dialog is modal over
    // the port's window, so the record stays alive meanwhile.
    ApplyLineSettings(dialog, port, 1);
    if (Device.SetCommState(port->device, &port->dcb) != TRUE) {
        DWORD code = GetLastError();
        if (code)
            ReportCommError("Error from SetCommState:", (int)code, nullptr, 0);
    }
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
