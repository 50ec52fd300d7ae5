#include "app/frame.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    return RunMessageLoop(StartApplication(instance, show));
}
