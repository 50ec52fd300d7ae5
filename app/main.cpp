#include <windows.h>

#include "app/frame.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    return RunMessageLoop(StartApplication(instance, show));
}
