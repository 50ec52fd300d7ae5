#include "port/loopback.h"

#include "common/state.h"
#include "port/device.h"
#include "port/port_record.h"

// The driver's private loop requests: a control code on the NT family, an
// escape function elsewhere.
static BOOL RequestLoopback(PortRecord* port, int on)
{
    if (PlatformId == VER_PLATFORM_WIN32_NT) {
        DWORD returned = 0;
        return Device.DeviceIoControl(port->device, on ? IOCTL_LOOPBACK_ON : IOCTL_LOOPBACK_OFF,
                                      nullptr, 0, nullptr, 0, &returned, nullptr);
    }
    return Device.EscapeCommFunction(port->device, on ? ESCAPE_LOOPBACK_ON : ESCAPE_LOOPBACK_OFF);
}

int ProbeLoopback(PortRecord* port)
{
    port->loopbackCapable = 0;
    if (RequestLoopback(port, 0) == 1)
        port->loopbackCapable = 1;
    port->signalLampCount = port->loopbackCapable ? 7 : 6;
    return 0;
}

int SetLoopback(PortRecord* port, int on)
{
    if (on)
        port->outputSignals |= SIGNAL_LOOP;
    else
        port->outputSignals &= ~SIGNAL_LOOP;
    RequestLoopback(port, on);
    return 0;
}
