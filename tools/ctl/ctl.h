// tarnwickctl's parts: finding and commanding the running program, the Open
// Ports dialog, boxes, and reading a port window back from the screen.
#pragma once
#include "common/resource.h"

#include <string>
#include <vector>
#include <windows.h>

#define DIALOG_CLASS "#32770"
#define BOX_TEXT_ID 0xFFFF
#define ANSWER_TIMEOUT_MS 5000
#define APPEAR_TIMEOUT_MS 10000
#define WAIT_STEP_MS 20
#define QUERY_ATTEMPTS 5
#define RAW_REQUEST_LIMIT (64 * 1024 * 1024)

enum ExitCode {
    EXIT_OK = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
    EXIT_BURNIN_FAILED = 3,
    EXIT_INTERRUPTED = 4
};

struct Target {
    HWND frame;
    HWND mdiClient;
    DWORD processId;
};

// --wait: how long boxes and check-row keep looking for what they want.
extern long WaitMs;

int Fail(const char* format, ...);
int UsageError(const char* format, ...);
int ParseNumber(const char* text, long* value);
int FindName(const char* const* names, int count, const char* name);

// program.cpp
int FindTarget(Target* target);
std::string ReadWindowText(HWND window);
std::string ClassOf(HWND window);
std::vector<HWND> ListPortWindows(const Target& target);
HWND FindPortWindow(const Target& target, const char* name);
HWND ActivePortWindow(const Target& target);
int ActivatePort(const Target& target, const char* name, HWND* window);
int ResolvePortWindow(const Target& target, HWND chosen, HWND* window);
int ListPorts(const Target& target);
int WaitUntilHidden(HWND window);

// boxes.cpp
std::vector<HWND> ListBoxes(const Target& target);
HWND FindDialog(const Target& target, const char* title);
std::string BoxText(HWND box);
int PrintBoxes(const Target& target, int argc, char** argv);
int DismissBoxes(const Target& target, int argc, char** argv);

// open_ports.cpp
int OpenPorts(const Target& target, int argc, char** argv);
// The arguments of open, checked without a running program.
int CheckOpenArguments(int argc, char** argv);

// input.cpp
int TypeText(HWND window, int argc, char** argv);
int PressKey(HWND window, int argc, char** argv);
int Click(HWND window, int argc, char** argv);
int PostRawMessage(HWND window, int argc, char** argv);

// pixels.cpp
int PrintLamps(HWND window);
int PrintPixel(HWND window, int argc, char** argv);
int CheckRow(const Target& target, HWND window, int argc, char** argv);

// query.cpp
int PrintStatus(const Target& target, int argc, char** argv);
int PrintScreen(const Target& target, int argc, char** argv);
int ResetCounters(const Target& target, int argc, char** argv);
int SendRawRequest(const Target& target, int argc, char** argv);
int WaitForPolls(const Target& target, int argc, char** argv);

// capture.cpp
int RunCapture(const Target& target, int argc, char** argv, int firstIndex);
// Usage errors are found before looking for Tarnwick; `firstIndex` is
// argv[0]'s place on the command line.
int CheckCaptureArguments(int argc, char** argv, int firstIndex);
// The captures after status's ports, or its "captures" member with --json.
int PrintCaptureSection(const Target& target, int json);
std::string SystemReason(DWORD code);

// burnin.cpp
int RunBurnin(const Target& target, int argc, char** argv);
// Usage errors are found before looking for Tarnwick.
int CheckBurninArguments(int argc, char** argv);
