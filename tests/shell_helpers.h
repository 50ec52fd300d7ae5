// Helpers for the tests that run the real frame and port windows.
#pragma once
#include "app/frame.h"
#include "app/state.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <windows.h>

// Window classes register once per process, so the frame is started once and
// started again only when a test has closed it.
inline HACCEL StartFrameOnce()
{
    static HACCEL accelerators = nullptr;
    if (!FrameWindow || !IsWindow(FrameWindow))
        accelerators = StartApplication(GetModuleHandleA(nullptr), SW_SHOW);
    return accelerators;
}

// Asks the MDI client for a port window, as the Open Ports dialog does; the
// window takes its record from CurrentPort.
inline HWND CreatePortWindow()
{
    MDICREATESTRUCTA create = {"VantDraw",
                               "ComX",
                               GetModuleHandleA(nullptr),
                               CW_USEDEFAULT,
                               CW_USEDEFAULT,
                               CW_USEDEFAULT,
                               CW_USEDEFAULT,
                               0,
                               0};
    return (HWND)SendMessageA(MdiClient, WM_MDICREATE, 0, (LPARAM)&create);
}

// What the Open Ports dialog does for one port, without the dialog.
inline PortRecord* OpenPortWindow(int number)
{
    char name[16];
    snprintf(name, sizeof name, "COM%d", number);
    PortRecord* port = new PortRecord;
    CurrentPort = port;
    if (OpenPort(port, name)) {
        delete port;
        CurrentPort = nullptr;
        return nullptr;
    }
    CreatePortWindow();
    return port;
}

inline int PortWindowCount()
{
    int count = 0;
    for (HWND w = GetWindow(MdiClient, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
        if (!GetWindow(w, GW_OWNER))
            count++;
    return count;
}

inline void CloseAllPortWindows()
{
    HWND child;
    while (MdiClient && IsWindow(MdiClient) && (child = GetWindow(MdiClient, GW_CHILD)) != nullptr)
        SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)child, 0);
}

inline HWND ActivePortWindow()
{
    return (HWND)SendMessageA(MdiClient, WM_MDIGETACTIVE, 0, 0);
}

// Dispatches what is queued, at most `limit` messages. Answers whether a quit
// message came, and its code.
inline bool PumpMessages(int limit, WPARAM* quitCode = nullptr)
{
    bool quit = false;
    MSG message;
    for (int i = 0; i < limit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); i++) {
        if (message.message == WM_QUIT) {
            quit = true;
            if (quitCode)
                *quitCode = message.wParam;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return quit;
}

inline bool QuitQueued()
{
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

// The whole screen ring of a port as one string, line after line.
inline std::string ScreenText(PortRecord* port)
{
    std::string text;
    for (int i = 0; i < SCREEN_LINES; i++) {
        text += port->lines[i].text;
        text += '\n';
    }
    return text;
}

inline bool ScreenHas(PortRecord* port, const char* marker)
{
    return ScreenText(port).find(marker) != std::string::npos;
}

// The real frame on the simulated adapter, with boxes recorded; every port
// window is closed after each test.
class RunningFrameTest : public testing::Test
{
  protected:
    SimulatedAdapter sim;
    BoxRecorder boxes;
    HACCEL accelerators = nullptr;

    void SetUp() override
    {
        ResetProgramState();
        accelerators = StartFrameOnce();
        ASSERT_TRUE(IsWindow(FrameWindow));
        ASSERT_TRUE(IsWindow(MdiClient));
    }

    void TearDown() override
    {
        boxes.onBox = nullptr;
        CloseAllPortWindows();
        PumpMessages(200);
        ResetProgramState();
    }
};
