// What the test programs share: recorded boxes, the simulated adapter, the
// running frame, a modal-dialog driver, the ring read back and pixel capture.
#pragma once
#include "app/frame.h"
#include "common/resource.h"
#include "common/state.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

typedef std::vector<std::string> Texts;

struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption; // "(null)" when none was passed
    UINT style;
};

// Records every message box instead of showing it, answers with the next of
// `answers` (IDOK when they run out) and runs `onBox` while the box would be
// up: where a test does what a user or the system could do meanwhile.
class BoxRecorder
{
  public:
    BoxRecorder();
    ~BoxRecorder();
    std::vector<ShownBox> boxes;
    std::vector<int> answers;
    std::function<void(const ShownBox&)> onBox;
    Texts All() const;
};

void ResetProgramState();

// Every test on the simulated adapter: a fresh adapter and program state,
// boxes recorded, and every record still listed deleted afterwards.
class SimTest : public testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
    // A record opened on COM<number>, which is added first with `wiring`.
    PortRecord* Open(int number, Sim::Wiring wiring = Sim::WIRE_NONE);
    BoxRecorder boxes;
};

// The real frame and port windows; the frame starts once per process.
class FrameTest : public SimTest
{
  protected:
    void SetUp() override;
    void TearDown() override;

  public:
    // What the Open Ports dialog does for one port, without the dialog.
    PortRecord* OpenWindow(int number, Sim::Wiring wiring = Sim::WIRE_NONE);
    static LRESULT Command(WORD id, HWND to = nullptr);
    // Frame timer ticks, each after `ms` of simulated time.
    static void Ticks(int count, DWORD ms);
    static int PortWindows();
    HACCEL accelerators = nullptr;
};

HWND CreatePortWindow();
void PumpMessages(int limit = 200);

// Runs `start` (which opens a modal dialog) and calls `action` on the dialog
// titled `caption` from inside its message loop; a dialog the action leaves
// open is ended with -2. Answers whether the action ran.
bool RunModal(const char* caption, std::function<void()> start, std::function<void(HWND)> action);
void Press(HWND dialog, int button);

// The sizes or codes of the logged calls of one kind (on one port, if given).
std::vector<DWORD> Logged(Sim::Call call, int number = 0);

// The ring oldest line first, without breaks; and what breaks its rules.
std::string Ring(const PortRecord* port);
std::string RingFault(const PortRecord* port);

// A shown popup with a 640 x height client on a colour no painting uses,
// standing in for a port window.
const COLORREF Unpainted = RGB(255, 0, 255);
HWND OpenPlainWindow(int height);
COLORREF PixelAt(HWND window, int x, int y);
// Paints over a rectangle, so a test sees whether it gets painted again.
void Cover(HWND window, COLORREF colour, int left, int top, int right, int bottom);
bool AllOf(HWND window, COLORREF colour, int left, int top, int right, int bottom);

// A message-only window of this thread for query replies: SendMessage runs
// it at once, and it keeps the last reply in QueryReply.
extern std::vector<char> QueryReply;
HWND CreateReplyWindow();

// The pixels of a window's client rectangle as COLORREFs, in one copy.
std::vector<DWORD> Capture(HWND window, int left, int top, int right, int bottom);
