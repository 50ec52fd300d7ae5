// The line-error kinds a device reports, in the order their markers are
// written and their counters are kept.
#pragma once
#include <windows.h>

#define LINE_ERROR_KINDS 11

struct LineErrorMarker {
    DWORD bit;
    const char* marker;
};

inline const LineErrorMarker LineErrorMarkers[LINE_ERROR_KINDS] = {
    {CE_BREAK, "<ERR:BREAK>"},       {CE_FRAME, "<ERR:FRAME>"},     {CE_IOE, "<ERR:IOE>"},
    {CE_MODE, "<ERR:MODE>"},         {CE_OVERRUN, "<ERR:OVERRUN>"}, {CE_RXOVER, "<ERR:RXOVER>"},
    {CE_RXPARITY, "<ERR:RXPARITY>"}, {CE_TXFULL, "<ERR:TXFULL>"},   {CE_DNS, "<ERR:DNS>"},
    {CE_PTO, "<ERR:PTO>"},           {CE_OOP, "<ERR:OOP>"},
};
