#include "tests/test_support.h"

#include "app/message_box.h"
#include "app/state.h"
#include "port/device.h"
#include "port/port_record.h"
#include "sim/sim.h"

static BoxRecorder* ActiveRecorder = nullptr;

static int RecordBox(HWND owner, const char* text, const char* caption, UINT style)
{
    BoxRecorder* r = ActiveRecorder;
    ShownBox box{owner, text ? text : "", caption ? caption : "(null)", style};
    r->boxes.push_back(box);
    int answer = IDOK;
    size_t index = r->boxes.size() - 1;
    if (index < r->answers.size())
        answer = r->answers[index];
    if (r->onBox)
        r->onBox(box);
    return answer;
}

BoxRecorder::BoxRecorder()
{
    ActiveRecorder = this;
    MessageBoxHook = RecordBox;
}

BoxRecorder::~BoxRecorder()
{
    ActiveRecorder = nullptr;
    MessageBoxHook = [](HWND owner, const char* text, const char* caption, UINT style) {
        return MessageBoxA(owner, text, caption, style);
    };
}

std::vector<std::string> BoxRecorder::Texts() const
{
    std::vector<std::string> texts;
    for (const ShownBox& b : boxes)
        texts.push_back(b.text);
    return texts;
}

SimulatedAdapter::SimulatedAdapter()
{
    Sim::Install();
}

SimulatedAdapter::~SimulatedAdapter()
{
    Sim::Uninstall();
}

void ResetProgramState()
{
    PortListHead = nullptr;
    ShowCrLf = 0;
    TestDataOn = 0;
    CurrentPort = nullptr;
    SettingsTargetPort = nullptr;
    PlatformId = VER_PLATFORM_WIN32_NT;
}
