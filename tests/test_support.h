// Shared helpers for the test programs.
#pragma once
#include <functional>
#include <string>
#include <vector>
#include <windows.h>

struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption; // "(null)" when no caption was passed
    UINT style;
};

// Records every message box instead of showing it. Answers each box with the
// next value of `answers` (IDOK once they run out) and runs `onBox`, if set,
// while the box would be up: that is where a test injects what a user or the
// system could do during a modal box.
class BoxRecorder
{
  public:
    BoxRecorder();
    ~BoxRecorder();
    std::vector<ShownBox> boxes;
    std::vector<int> answers;
    std::function<void(const ShownBox&)> onBox;
    std::vector<std::string> Texts() const;
};

// Installs the simulated adapter for the lifetime of the object, with a fresh
// state, and restores the operating system's device functions afterwards.
class SimulatedAdapter
{
  public:
    SimulatedAdapter();
    ~SimulatedAdapter();
};

// Resets the program-wide state between tests.
void ResetProgramState();
