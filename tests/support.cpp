#include "tests/support.h"

#include "app/poll.h"
#include "app/query.h"
#include "app/run.h"
#include "common/message_box.h"

#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Freed memory is filled with 0xDD, so code that goes on using a deleted
// record reads garbage pointers and fails loudly instead of by luck.
void* operator new(size_t size)
{
    void* p = malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void operator delete(void* p) noexcept
{
    if (p)
        memset(p, 0xDD, _msize(p));
    free(p);
}

void operator delete(void* p, size_t) noexcept
{
    operator delete(p);
}

int main(int argc, char** argv)
{
    // Wine's console would turn every \n into \r\n, which ctest reads as part
    // of the test names.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    testing::InitGoogleTest(&argc, argv);
    // A test that started this program at another DPI restores the setting
    // once the DPI is read.
    HANDLE dpiRead = OpenEventA(EVENT_MODIFY_STATE, FALSE, "TarnwickDpiChild");
    if (dpiRead) {
        HDC screen = GetDC(nullptr);
        GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        SetEvent(dpiRead);
        CloseHandle(dpiRead);
    }
    return RUN_ALL_TESTS();
}

static BoxRecorder* Recorder = nullptr;

static int RecordBox(HWND owner, const char* text, const char* caption, UINT style)
{
    BoxRecorder* r = Recorder;
    ShownBox box{owner, text ? text : "", caption ? caption : "(null)", style};
    r->boxes.push_back(box);
    size_t index = r->boxes.size() - 1;
    int answer = index < r->answers.size() ? r->answers[index] : IDOK;
    if (r->onBox)
        r->onBox(box);
    return answer;
}

BoxRecorder::BoxRecorder()
{
    Recorder = this;
    MessageBoxHook = RecordBox;
}

BoxRecorder::~BoxRecorder()
{
    Recorder = nullptr;
    MessageBoxHook = [](HWND owner, const char* text, const char* caption, UINT style) {
        return MessageBoxA(owner, text, caption, style);
    };
}

Texts BoxRecorder::All() const
{
    Texts texts;
    for (const ShownBox& b : boxes)
        texts.push_back(b.text);
    return texts;
}

void ResetProgramState()
{
    PortListHead = nullptr;
    ShowCrLf = 0;
    TestDataOn = 0;
    CurrentPort = nullptr;
    SettingsTargetPort = nullptr;
    PlatformId = VER_PLATFORM_WIN32_NT;
    // The simulated clock starts again at 0 with each adapter.
    LastPollTime = 0;
    PollHeldMs = 0;
    LongestPollGapMs = 0;
    if (Run.ownerProcess)
        CloseHandle(Run.ownerProcess);
    memset(&Run, 0, sizeof Run);
}

void SimTest::SetUp()
{
    Sim::Install();
    ResetProgramState();
}

void SimTest::TearDown()
{
    boxes.onBox = nullptr;
    while (PortListHead)
        delete PortListHead;
    ResetProgramState();
    Sim::Uninstall();
}

PortRecord* SimTest::Open(int number, Sim::Wiring wiring)
{
    Sim::AddPort(number, wiring);
    PortRecord* port = new PortRecord;
    if (OpenPort(port, ("COM" + std::to_string(number)).c_str()) == 0)
        return port;
    delete port;
    return nullptr;
}

void FrameTest::SetUp()
{
    SimTest::SetUp();
    static HACCEL started = nullptr;
    // Window classes register once per process; a test may have closed the frame.
    if (!IsWindow(FrameWindow))
        started = StartApplication(GetModuleHandleA(nullptr), SW_SHOW);
    accelerators = started;
    ASSERT_TRUE(IsWindow(MdiClient));
}

void FrameTest::TearDown()
{
    boxes.onBox = nullptr;
    HWND child;
    while (IsWindow(MdiClient) && (child = GetWindow(MdiClient, GW_CHILD)) != nullptr)
        SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)child, 0);
    PumpMessages();
    SimTest::TearDown();
}

HWND CreatePortWindow()
{
    const int any = CW_USEDEFAULT;
    MDICREATESTRUCTA create = {VANT_PORT_CLASS, "ComX", AppInstance, any, any, any, any, 0, 0};
    return (HWND)SendMessageA(MdiClient, WM_MDICREATE, 0, (LPARAM)&create);
}

PortRecord* FrameTest::OpenWindow(int number, Sim::Wiring wiring)
{
    PortRecord* port = Open(number, wiring);
    CurrentPort = port;
    if (port && !CreatePortWindow())
        return nullptr;
    return port;
}

LRESULT FrameTest::Command(WORD id, HWND to)
{
    return SendMessageA(to ? to : FrameWindow, WM_COMMAND, id, 0);
}

void FrameTest::Ticks(int count, DWORD ms)
{
    for (int i = 0; i < count; i++) {
        Sim::Advance(ms);
        SendMessageA(FrameWindow, WM_TIMER, 0, 0);
    }
}

int FrameTest::PortWindows()
{
    int count = 0;
    for (HWND w = GetWindow(MdiClient, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
        count += GetWindow(w, GW_OWNER) == nullptr;
    return count;
}

void PumpMessages(int limit)
{
    MSG message;
    for (int i = 0; i < limit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); i++) {
        if (message.message == WM_QUIT) {
            PostQuitMessage((int)message.wParam); // left for the test's own loop
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static const char* ModalCaption;
static std::function<void(HWND)> ModalAction;
static int ModalActed;

static void CALLBACK ActOnModal(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = FindWindowA("#32770", ModalCaption);
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    if (ModalActed++ == 0)
        ModalAction(dialog);
    else
        EndDialog(dialog, -2);
}

bool RunModal(const char* caption, std::function<void()> start, std::function<void(HWND)> action)
{
    ModalCaption = caption;
    ModalAction = action;
    ModalActed = 0;
    UINT_PTR act = SetTimer(nullptr, 0, 0, ActOnModal);
    // Ends a dialog the action left open, so the test fails instead of hanging.
    UINT_PTR end = SetTimer(nullptr, 0, 2000, ActOnModal);
    start();
    KillTimer(nullptr, act);
    KillTimer(nullptr, end);
    return ModalActed > 0;
}

void Press(HWND dialog, int button)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, button));
}

std::vector<DWORD> Logged(Sim::Call call, int number)
{
    std::vector<DWORD> values;
    for (const Sim::LoggedCall& c : Sim::CallLog())
        if (c.call == call && (!number || c.number == number))
            values.push_back(c.value);
    return values;
}

std::string Ring(const PortRecord* port)
{
    std::string text;
    for (int i = 1; i <= SCREEN_LINES; i++)
        text += port->lines[(port->currentLine + i) % SCREEN_LINES].text;
    return text;
}

std::string RingFault(const PortRecord* port)
{
    char text[80] = "";
    if (port->currentLine < 0 || port->currentLine >= SCREEN_LINES || port->currentColumn < 0 ||
        port->currentColumn >= SCREEN_COLUMNS)
        snprintf(text, sizeof text, "position %d,%d", port->currentLine, port->currentColumn);
    for (int i = 0; i < SCREEN_LINES && !text[0]; i++) {
        size_t length = strnlen(port->lines[i].text, sizeof port->lines[i].text);
        if (length > SCREEN_COLUMNS)
            snprintf(text, sizeof text, "line %d is %u long", i, (unsigned)length);
        for (size_t c = 0; c < length && !text[0]; c++) {
            unsigned char b = (unsigned char)port->lines[i].text[c];
            if (b < 0x20 || b > 0x80)
                snprintf(text, sizeof text, "line %d column %u holds %02x", i, (unsigned)c, b);
        }
    }
    return text;
}

std::vector<DWORD> Capture(HWND window, int left, int top, int right, int bottom)
{
    int width = right - left, height = bottom - top;
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, dc, left, top, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> pixels((DWORD*)bits, (DWORD*)bits + width * height);
    for (DWORD& p : pixels)
        p = RGB(GetBValue(p), GetGValue(p), GetRValue(p)) & 0xFFFFFF; // as COLORREF
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    return pixels;
}

HWND OpenPlainWindow(int height)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = CreateSolidBrush(Unpainted);
        wc.lpszClassName = "PlainTestWindow";
        registered = RegisterClassA(&wc) != 0;
    }
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "PlainTestWindow", "", WS_POPUP, 40, 40, 640,
                                  height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

void Cover(HWND window, COLORREF colour, int left, int top, int right, int bottom)
{
    HDC dc = GetDC(window);
    RECT area = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
}

COLORREF PixelAt(HWND window, int x, int y)
{
    return Capture(window, x, y, x + 1, y + 1)[0];
}

bool AllOf(HWND window, COLORREF colour, int left, int top, int right, int bottom)
{
    for (DWORD pixel : Capture(window, left, top, right, bottom))
        if (pixel != colour)
            return false;
    return true;
}

std::vector<char> QueryReply;

static LRESULT CALLBACK KeepQueryReply(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const COPYDATASTRUCT* data = (const COPYDATASTRUCT*)lParam;
    if (message != WM_COPYDATA || data->dwData != QUERY_REPLY_ID)
        return DefWindowProcA(window, message, wParam, lParam);
    QueryReply.assign((const char*)data->lpData, (const char*)data->lpData + data->cbData);
    return TRUE;
}

HWND CreateReplyWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = KeepQueryReply;
    windowClass.lpszClassName = "TestQueryReply";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "TestQueryReply", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           nullptr, nullptr);
}
