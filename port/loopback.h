// The adapter driver's internal loopback switch.
#pragma once

class PortRecord;

#define IOCTL_LOOPBACK_ON 0x1B2014
#define IOCTL_LOOPBACK_OFF 0x1B2018
#define ESCAPE_LOOPBACK_ON 15648
#define ESCAPE_LOOPBACK_OFF 15649

int ProbeLoopback(PortRecord* port);
int SetLoopback(PortRecord* port, int on);
