#include "port/line_control.h"

#include "port/device.h"
#include "port/port_record.h"
#include "port/screen_text.h"
#include "port/transfer.h"

int ReadLineSettings(PortRecord* port)
{
    DCB dcb = port->dcb;
    if (Device.GetCommState(port->device, &dcb)) {
        port->dcb = dcb;
        return 0;
    }
    ReportCommError("Error from GetCommState:", (int)GetLastError(), nullptr, 0);
    return 1;
}

void WriteLineSettings(PortRecord* port)
{
    if (Device.SetCommState(port->device, &port->dcb) == TRUE)
        return;
    DWORD code = GetLastError();
    if (code)
        ReportCommError("Error from SetCommState:", (int)code, nullptr, 0);
}

int GetDeviceSettings(PortRecord* port, DCB* dcb)
{
    return Device.GetCommState(port->device, dcb) ? 1 : 0;
}

void SetDeviceSettings(PortRecord* port, DCB* dcb)
{
    Device.SetCommState(port->device, dcb);
}

void DriveLine(PortRecord* port, DWORD function)
{
    Device.EscapeCommFunction(port->device, function);
}

void EscapeWithMarker(PortRecord* port, DWORD function, const char* marker)
{
    Device.EscapeCommFunction(port->device, function);
    AppendText(port, marker, 0);
}

void ToggleOutput(PortRecord* port, unsigned short signal)
{
    int on = (port->outputSignals & signal) != 0;
    DWORD function = signal == SIGNAL_RTS ? (on ? CLRRTS : SETRTS) : (on ? CLRDTR : SETDTR);
    Device.EscapeCommFunction(port->device, function);
    port->outputSignals ^= signal;
}

DWORD ReadModemInputs(PortRecord* port)
{
    DWORD status = 0;
    if (!Device.GetCommModemStatus(port->device, &status))
        status = 0;
    return status;
}

void AbortDeviceTransfers(PortRecord* port)
{
    Device.PurgeComm(port->device, PURGE_TXABORT);
    Device.PurgeComm(port->device, PURGE_RXABORT);
}

void SettleLine(DWORD milliseconds)
{
    Device.Sleep(milliseconds);
}
