#include "app/frame.h"
#include "port/capture.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    int code = RunMessageLoop(StartApplication(instance, show));
    FinishCaptures(CAPTURE_FINISH_WAIT_MS);
    return code;
}
