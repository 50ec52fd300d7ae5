// The program running on a simulated adapter: 64 ports, each with a
// loopback plug (the even ones with RI wired too), in real time.
// TARNWICK_DEMO_FAULTS makes some of them faulty for burn-in runs, e.g.
// "COM3=corrupt:20000,COM7=drop:5000,COM9=pulled,COM11=frame:30000,COM4=held:4".
#include "app/frame.h"
#include "common/message_box.h"
#include "common/state.h"
#include "port/capture.h"
#include "sim/sim.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Sim::Install();
    Sim::AddPorts(1, 64, Sim::WIRE_LOOPBACK_PLUG);
    for (int number = 2; number <= 64; number += 2)
        Sim::AddPort(number, Sim::WIRE_LOOPBACK_PLUG_RI);
    std::string error;
    const char* faults = getenv("TARNWICK_DEMO_FAULTS");
    if (faults && !Sim::ApplyFaultList(faults, &error)) {
        error = "TARNWICK_DEMO_FAULTS: " + error + "\nEvery port is sound.";
        fprintf(stderr, "%s\n", error.c_str());
        fflush(stderr);
    }
    Sim::SetRealTime(true);
    HACCEL accelerators = StartApplication(instance, show);
    // Only now, owned by the frame, where tarnwickctl finds and answers it.
    if (!error.empty())
        ShowMessageBox(FrameWindow, error.c_str(), "Tarnwick demo", MB_ICONWARNING);
    int code = RunMessageLoop(accelerators);
    FinishCaptures(CAPTURE_FINISH_WAIT_MS);
    return code;
}
