#include "dialogs/dialog_controls.h"

#include "dialogs/line_settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const DataBitsItems[] = {"7 bits", "8 bits"};
static const char* const ParityItems[] = {"None", "Odd", "Even", "Mark", "Space"};
static const char* const StopBitsItems[] = {"1", "1.5", "2"};
static const char* const RtsItems[] = {"Clear", "Set", "Auto", "Toggle"};
static const char* const DtrItems[] = {"Clear", "Set", "Auto"};

#define COUNT_OF(a) (int)(sizeof(a) / sizeof((a)[0]))

int ReadLeadingNumber(HWND dialog, int control, int skip, long* value)
{
    char text[DIALOG_TEXT_MAX + 1];
    GetDlgItemTextA(dialog, control, text, sizeof text);
    text[DIALOG_TEXT_MAX] = 0;
    if ((size_t)skip > strlen(text))
        return 0;
    const char* start = text + skip;
    char* end;
    long number = strtol(start, &end, 10); // saturates at LONG_MIN/LONG_MAX
    if (end == start)
        return 0;
    *value = number;
    return 1;
}

void FillList(HWND dialog, int control, const char* const* items, int count, int selection)
{
    SendDlgItemMessageA(dialog, control, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; i++)
        SendDlgItemMessageA(dialog, control, CB_ADDSTRING, 0, (LPARAM)items[i]);
    SendDlgItemMessageA(dialog, control, CB_SETCURSEL, (WPARAM)selection, 0);
}

void FillBaudList(HWND dialog, int selection)
{
    SendDlgItemMessageA(dialog, IDC_BAUD, CB_RESETCONTENT, 0, 0);
    for (int i = 0; BaudRateList[i]; i++) {
        char text[16];
        snprintf(text, sizeof text, "%u", (unsigned)BaudRateList[i]);
        SendDlgItemMessageA(dialog, IDC_BAUD, CB_ADDSTRING, 0, (LPARAM)text);
    }
    SendDlgItemMessageA(dialog, IDC_BAUD, CB_SETCURSEL, (WPARAM)selection, 0);
}

void FillLineLists(HWND dialog, int dataBits, int parity, int stopBits, int rts, int dtr)
{
    FillList(dialog, IDC_DATA_BITS, DataBitsItems, COUNT_OF(DataBitsItems), dataBits);
    FillList(dialog, IDC_PARITY, ParityItems, COUNT_OF(ParityItems), parity);
    FillList(dialog, IDC_STOP_BITS, StopBitsItems, COUNT_OF(StopBitsItems), stopBits);
    FillList(dialog, IDC_RTS, RtsItems, COUNT_OF(RtsItems), rts);
    FillList(dialog, IDC_DTR, DtrItems, COUNT_OF(DtrItems), dtr);
}
