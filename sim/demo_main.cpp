// The program running on a simulated adapter: 64 ports, each with a
// loopback plug (the even ones with RI wired too), in real time.
#include "app/frame.h"
#include "sim/sim.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Sim::Install();
    Sim::AddPorts(1, 64, Sim::WIRE_LOOPBACK_PLUG);
    for (int number = 2; number <= 64; number += 2)
        Sim::AddPort(number, Sim::WIRE_LOOPBACK_PLUG_RI);
    Sim::SetRealTime(true);
    return RunMessageLoop(StartApplication(instance, show));
}
