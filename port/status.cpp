#include "port/status.h"

#include "port/device.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "view/screen.h"

#include <stdio.h>

struct LineErrorMarker {
    DWORD bit;
    const char* marker;
};

static const LineErrorMarker LineErrorMarkers[] = {
    {CE_BREAK, "<ERR:BREAK>"},       {CE_FRAME, "<ERR:FRAME>"},     {CE_IOE, "<ERR:IOE>"},
    {CE_MODE, "<ERR:MODE>"},         {CE_OVERRUN, "<ERR:OVERRUN>"}, {CE_RXOVER, "<ERR:RXOVER>"},
    {CE_RXPARITY, "<ERR:RXPARITY>"}, {CE_TXFULL, "<ERR:TXFULL>"},   {CE_DNS, "<ERR:DNS>"},
    {CE_PTO, "<ERR:PTO>"},           {CE_OOP, "<ERR:OOP>"},
};

static void AppendLineErrors(PortRecord* port, DWORD errors)
{
    for (const LineErrorMarker& m : LineErrorMarkers)
        if (errors & m.bit)
            AppendText(port, m.marker, 0);
}

int PollLineStatus(PortRecord* port, QueueCounts* counts)
{
    DWORD errors = 0;
    if (!Device.ClearCommError(port->device, &errors, &port->lineStatus)) {
        DWORD code = GetLastError();
        char text[100];
        snprintf(text, sizeof text, "<ERR %lxH,ClearCommError, %s, handle:%x>", code, port->name,
                 (unsigned)(UINT_PTR)port->device);
        AppendText(port, text, 0);
        // Counts that were not read must not send or drain anything.
        counts->outQueue = 0;
        counts->inQueue = 0;
        return 0;
    }
    counts->outQueue = port->lineStatus.cbOutQue;
    counts->inQueue = port->lineStatus.cbInQue;
    if (HoldFlags(port->lineStatus) != port->paintedStatus.holdFlags)
        port->windowDirty = 1;
    if (errors)
        AppendLineErrors(port, errors);
    return 0;
}

int PollModemStatus(PortRecord* port)
{
    DWORD status = 0;
    if (Device.GetCommModemStatus(port->device, &status)) {
        port->inputSignals =
            (unsigned short)(status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON));
        EndFailureRun(port, FAILING_MODEM_STATUS);
        return 0;
    }
    DWORD code = GetLastError();
    // Inputs that could not be read show dark, and a failure that lasts is
    // reported once, not at every poll.
    port->inputSignals = 0;
    if (StartsFailureRun(port, FAILING_MODEM_STATUS, (int)code))
        ReportCommError("GetCommModemStatus Error:", (int)code, nullptr, 0);
    return 0;
}
