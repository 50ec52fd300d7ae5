#include "dialogs/line_settings.h"

#include "common/message_box.h"
#include "dialogs/dialog_controls.h"
#include "port/port_record.h"

#include <stdio.h>

static LRESULT SelectedIndex(HWND dialog, int control)
{
    return SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0);
}

static DWORD CheckBit(HWND dialog, int control)
{
    return IsDlgButtonChecked(dialog, control) == BST_CHECKED ? 1 : 0;
}

// Index 0 clears the output, 1 up to lastOn sets it; anything else (no
// selection among them) leaves the line as it was.
static void ApplyOutputBit(PortRecord* port, LRESULT index, LRESULT lastOn, unsigned short bit)
{
    if (index == 0)
        port->outputSignals &= (unsigned short)~bit;
    else if (index >= 1 && index <= lastOn)
        port->outputSignals |= bit;
}

static void ApplyBaudRate(HWND dialog, DCB& dcb)
{
    long value;
    if (ReadLeadingNumber(dialog, IDC_BAUD, 0, &value))
        dcb.BaudRate = (DWORD)value;
}

// The box runs a message loop in which the port's window may be closed and
// its record deleted: returns 1 then.
static int ApplyByteSize(HWND dialog, PortRecord* port, int byteSizeBox)
{
    long value;
    if (!ReadLeadingNumber(dialog, IDC_DATA_BITS, 0, &value))
        return 0;
    port->dcb.ByteSize = (BYTE)value;
    if (!byteSizeBox)
        return 0;
    char text[32];
    snprintf(text, sizeof text, "ByteSize = %d", (int)port->dcb.ByteSize);
    RecordWatch watch;
    WatchRecord(&watch, port);
    ShowMessageBox(dialog, text, nullptr, MB_OK);
    UnwatchRecord(&watch);
    return watch.closed;
}

int ApplyLineSettings(HWND dialog, PortRecord* port, int byteSizeBox)
{
    if (!port)
        return 1;
    DCB& dcb = port->dcb;
    ApplyBaudRate(dialog, dcb);
    if (ApplyByteSize(dialog, port, byteSizeBox))
        return 1;
    // A list without a selection reports -1, which becomes 255 here and 3 in
    // the two-bit fields below.
    dcb.StopBits = (BYTE)SelectedIndex(dialog, IDC_STOP_BITS);
    dcb.Parity = (BYTE)SelectedIndex(dialog, IDC_PARITY);

    LRESULT rts = SelectedIndex(dialog, IDC_RTS);
    dcb.fRtsControl = (DWORD)rts & 3;
    ApplyOutputBit(port, rts, RTS_CONTROL_TOGGLE, SIGNAL_RTS);

    LRESULT dtr = SelectedIndex(dialog, IDC_DTR);
    dcb.fDtrControl = (DWORD)dtr & 3;
    ApplyOutputBit(port, dtr, DTR_CONTROL_HANDSHAKE, SIGNAL_DTR);

    dcb.fOutX = CheckBit(dialog, IDC_TX_XONXOFF);
    dcb.fInX = CheckBit(dialog, IDC_RX_XONXOFF);
    dcb.fOutxCtsFlow = CheckBit(dialog, IDC_CTS_FLOW);
    dcb.fOutxDsrFlow = CheckBit(dialog, IDC_DSR_FLOW);
    return 0;
}
