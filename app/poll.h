// The poll cycle run on every timer tick: it drives each port's engine work,
// then paints what changed.
#pragma once

class PortRecord;

void PollAllPorts();
void ServicePort(PortRecord* port);
