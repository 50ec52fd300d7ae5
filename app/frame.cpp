#include "app/frame.h"

HACCEL StartApplication(HINSTANCE, int)
{
    return nullptr;
}

int RunMessageLoop(HACCEL)
{
    return 0;
}
