#include "port/status.h"

#include "port/device.h"
#include "port/line_errors.h"
#include "port/port_record.h"
#include "port/screen_text.h"
#include "port/transfer.h"

#include <stdio.h>

static void AppendLineErrors(PortRecord* port, DWORD errors)
{
    for (int kind = 0; kind < LINE_ERROR_KINDS; kind++)
        if (errors & LineErrorMarkers[kind].bit) {
            port->counters.lineErrors[kind]++;
            AppendText(port, LineErrorMarkers[kind].marker, 0);
        }
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
