// What tarnwickctl's command files share.
#pragma once
#include <windows.h>

enum ExitCode { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_BURNIN_FAILED = 3 };

#define ANSWER_TIMEOUT_MS 5000

struct Target {
    HWND frame;
    HWND mdiClient;
    DWORD processId;
};

int Fail(const char* format, ...);
int UsageError(const char* format, ...);
int ParseNumber(const char* text, long* value);
int FindTarget(Target* target);
// "open FIRST COUNT [line settings]" through the Open Ports dialog.
int OpenPorts(const Target& target, int argc, char** argv);

// query.cpp
int PrintStatus(const Target& target, int argc, char** argv);
int PrintScreen(const Target& target, int argc, char** argv);
int ResetCounters(const Target& target, int argc, char** argv);
// burnin.cpp
int RunBurnin(const Target& target, int argc, char** argv);
// Usage errors are found before looking for Tarnwick.
int CheckBurninArguments(int argc, char** argv);
