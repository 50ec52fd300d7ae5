// Filling and confirming the Open Ports dialog of the running program.
#include "dialogs/line_settings.h"
#include "tools/ctl/ctl.h"

#include <stdio.h>
#include <string.h>

static const char* const DataBitsNames[] = {"7", "8"};
static const char* const ParityNames[] = {"none", "odd", "even", "mark", "space"};
static const char* const StopBitsNames[] = {"1", "1.5", "2"};
static const char* const RtsNames[] = {"clear", "set", "auto", "toggle"};
static const char* const DtrNames[] = {"clear", "set", "auto"};
#define COUNT_OF(a) (int)(sizeof(a) / sizeof((a)[0]))

static int ParseBaudRate(const char* value, int* index)
{
    long rate = 0;
    if (!value)
        return UsageError("--baud needs a value");
    for (int i = 0; ParseNumber(value, &rate) && BaudRateList[i]; i++) {
        if (BaudRateList[i] == (DWORD)rate) {
            *index = i;
            return EXIT_OK;
        }
    }
    return UsageError("--baud %s: not a rate the dialog offers (300 to 921600)", value);
}

static int SetComboIndex(HWND dialog, int control, int index, const char* what)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(GetDlgItem(dialog, control), CB_SETCURSEL, index, 0, SMTO_NORMAL,
                             ANSWER_TIMEOUT_MS, &result) ||
        (LRESULT)result == CB_ERR)
        return Fail("could not select %s in the Open Ports dialog", what);
    return EXIT_OK;
}

struct OpenRequest {
    long first;
    long count;
    int lists[6][2];  // control, index (-1: leave the default)
    int checks[4][2]; // control, checked
};

static int ParseChoice(const char* option, const char* value, const char* const* names, int count,
                       int* index)
{
    if (!value)
        return UsageError("%s needs a value", option);
    *index = FindName(names, count, value);
    if (*index < 0) {
        std::string choices;
        for (int i = 0; i < count; i++)
            choices += std::string(i ? "|" : "") + names[i];
        return UsageError("%s %s: choose one of %s", option, value, choices.c_str());
    }
    return EXIT_OK;
}

static int ParseOpenRequest(int argc, char** argv, OpenRequest* request)
{
    static const int listControls[6] = {IDC_BAUD,      IDC_DATA_BITS, IDC_PARITY,
                                        IDC_STOP_BITS, IDC_RTS,       IDC_DTR};
    static const int checkControls[4] = {IDC_RX_XONXOFF, IDC_TX_XONXOFF, IDC_CTS_FLOW,
                                         IDC_DSR_FLOW};
    for (int i = 0; i < 6; i++) {
        request->lists[i][0] = listControls[i];
        request->lists[i][1] = -1;
    }
    for (int i = 0; i < 4; i++) {
        request->checks[i][0] = checkControls[i];
        request->checks[i][1] = 0;
    }
    if (argc < 2 || !ParseNumber(argv[0], &request->first) ||
        !ParseNumber(argv[1], &request->count))
        return UsageError("open wants FIRST and COUNT, e.g. open 5 3");
    if (request->first < 1 || request->first > HIGHEST_PORT)
        return UsageError("the first port must be 1 to %d, not %ld", HIGHEST_PORT, request->first);
    if (request->count < 0)
        return UsageError("the quantity cannot be negative");
    if (request->count > HIGHEST_PORT || request->first + request->count - 1 > HIGHEST_PORT)
        return UsageError("COM%ld to COM%ld: ports go up to COM%d", request->first,
                          request->first + request->count - 1, HIGHEST_PORT);
    for (int i = 2; i < argc; i++) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        int status = EXIT_OK;
        int* slot = nullptr;
        if (strcmp(option, "--baud") == 0) {
            slot = &request->lists[0][1];
            status = ParseBaudRate(value, slot);
        } else if (strcmp(option, "--data") == 0) {
            slot = &request->lists[1][1];
            status = ParseChoice(option, value, DataBitsNames, COUNT_OF(DataBitsNames), slot);
        } else if (strcmp(option, "--parity") == 0) {
            slot = &request->lists[2][1];
            status = ParseChoice(option, value, ParityNames, COUNT_OF(ParityNames), slot);
        } else if (strcmp(option, "--stop") == 0) {
            slot = &request->lists[3][1];
            status = ParseChoice(option, value, StopBitsNames, COUNT_OF(StopBitsNames), slot);
        } else if (strcmp(option, "--rts") == 0) {
            slot = &request->lists[4][1];
            status = ParseChoice(option, value, RtsNames, COUNT_OF(RtsNames), slot);
        } else if (strcmp(option, "--dtr") == 0) {
            slot = &request->lists[5][1];
            status = ParseChoice(option, value, DtrNames, COUNT_OF(DtrNames), slot);
        } else if (strcmp(option, "--xonxoff-rx") == 0) {
            request->checks[0][1] = 1;
        } else if (strcmp(option, "--xonxoff-tx") == 0) {
            request->checks[1][1] = 1;
        } else if (strcmp(option, "--cts") == 0) {
            request->checks[2][1] = 1;
        } else if (strcmp(option, "--dsr") == 0) {
            request->checks[3][1] = 1;
        } else {
            return UsageError("open: unknown option %s", option);
        }
        if (status != EXIT_OK)
            return status;
        if (slot)
            i++;
    }
    return EXIT_OK;
}

int CheckOpenArguments(int argc, char** argv)
{
    OpenRequest request;
    return ParseOpenRequest(argc, argv, &request);
}

static HWND WaitForDialog(const Target& target, const char* title)
{
    for (int waited = 0; waited < APPEAR_TIMEOUT_MS; waited += WAIT_STEP_MS) {
        HWND dialog = FindDialog(target, title);
        if (dialog)
            return dialog;
        Sleep(WAIT_STEP_MS);
    }
    return nullptr;
}

static int FillOpenPortsDialog(HWND dialog, const OpenRequest& request)
{
    int status = SetComboIndex(dialog, IDC_FROM_PORT, (int)request.first - 1, "the first port");
    if (status != EXIT_OK)
        return status;
    char quantity[32];
    snprintf(quantity, sizeof quantity, "%ld", request.count);
    HWND quantityBox = GetDlgItem(dialog, IDC_QUANTITY);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(quantityBox, WM_SETTEXT, 0, (LPARAM)quantity, SMTO_NORMAL,
                        ANSWER_TIMEOUT_MS, &result);
    if (ReadWindowText(quantityBox) != quantity)
        return Fail("could not type the quantity into the Open Ports dialog");
    for (int i = 0; i < 6; i++) {
        if (request.lists[i][1] < 0)
            continue;
        status = SetComboIndex(dialog, request.lists[i][0], request.lists[i][1], "a line setting");
        if (status != EXIT_OK)
            return status;
    }
    for (int i = 0; i < 4; i++) {
        SendMessageTimeoutA(GetDlgItem(dialog, request.checks[i][0]), BM_SETCHECK,
                            request.checks[i][1] ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_NORMAL,
                            ANSWER_TIMEOUT_MS, &result);
    }
    return EXIT_OK;
}

// Waits until every port of the run has its window or Tarnwick shows a box,
// then reports which.
static int ReportOpenedRun(const Target& target, const OpenRequest& request)
{
    std::vector<std::string> missing;
    std::vector<HWND> boxes;
    for (int waited = 0;; waited += WAIT_STEP_MS) {
        missing.clear();
        for (long n = request.first; n < request.first + request.count; n++) {
            char name[32];
            snprintf(name, sizeof name, "COM%ld", n);
            if (!FindPortWindow(target, name))
                missing.push_back(name);
        }
        boxes = ListBoxes(target);
        if (missing.empty() || !boxes.empty() || waited >= APPEAR_TIMEOUT_MS)
            break;
        Sleep(WAIT_STEP_MS);
    }
    if (missing.empty())
        return EXIT_OK;
    std::string names;
    for (const std::string& name : missing)
        names += " " + name;
    fprintf(stderr, "tarnwickctl: no port window (yet) for%s\n", names.c_str());
    for (HWND box : boxes)
        fprintf(stderr, "tarnwickctl: Tarnwick shows the box: %s\n", BoxText(box).c_str());
    return EXIT_FAILED;
}

int OpenPorts(const Target& target, int argc, char** argv)
{
    OpenRequest request;
    int status = ParseOpenRequest(argc, argv, &request);
    if (status != EXIT_OK)
        return status;
    HWND dialog = FindDialog(target, OPEN_PORTS_TITLE);
    if (!dialog) {
        PostMessageA(target.frame, WM_COMMAND, CMD_OPEN_PORTS, 0);
        dialog = WaitForDialog(target, OPEN_PORTS_TITLE);
    }
    if (!dialog)
        return Fail("the Open Ports dialog did not appear within %d ms", APPEAR_TIMEOUT_MS);
    status = FillOpenPortsDialog(dialog, request);
    if (status != EXIT_OK)
        return status;
    // OK opens the ports and may show error boxes, so it is posted, not sent.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, IDOK));
    if (!WaitUntilHidden(dialog))
        return Fail("the Open Ports dialog did not close after OK");
    return ReportOpenedRun(target, request);
}
