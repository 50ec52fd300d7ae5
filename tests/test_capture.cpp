// Capture into files, on the simulated adapter: the forms, where a capture
// ends, failing disks and the requests that start and stop it.
#include "app/capture_query.h"
#include "app/poll.h"
#include "port/capture.h"
#include "tests/support.h"
#include "view/paint.h"

#include <string.h>

static const DWORD WriterLimitMs = 30000;

static std::string Folder()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder =
        std::string(temp) + "tarnwick-capture-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// Read as tail would: while the capture may still write.
static std::string Slurp(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) &&
           got)
        text.append(buffer, got);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return file == INVALID_HANDLE_VALUE ? "(cannot be read)" : text;
}

static void Spit(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD wrote = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &wrote, nullptr);
    CloseHandle(file);
}

// Where two texts part, in few words: long binary texts make unreadable failures.
static std::string Difference(const std::string& expected, const std::string& actual)
{
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        at++;
    if (at == expected.size() && at == actual.size())
        return "";
    auto around = [at](const std::string& text) {
        return testing::PrintToString(text.substr(at < 8 ? 0 : at - 8, 24));
    };
    return "byte " + std::to_string(at) + " of " + std::to_string(expected.size()) + " (got " +
           std::to_string(actual.size()) + "): expected " + around(expected) + ", got " +
           around(actual);
}

// 2026-12-07 14:03:15.120 when the simulated clock starts.
static void WINAPI SimLocalTime(LPSYSTEMTIME time)
{
    SYSTEMTIME start = {2026, 12, 1, 7, 14, 3, 15, 120};
    FILETIME file;
    SystemTimeToFileTime(&start, &file);
    ULARGE_INTEGER at = {{file.dwLowDateTime, file.dwHighDateTime}};
    at.QuadPart += Sim::Now() * 10000;
    file = {at.LowPart, at.HighPart};
    FileTimeToSystemTime(&file, time);
}

// The stamp of a poll `ms` into the run (less than half a minute).
static std::string Stamp(int ms)
{
    char text[32];
    snprintf(text, sizeof text, "2026-12-07 14:03:%02d.%03d ", 15 + (120 + ms) / 1000,
             (120 + ms) % 1000);
    return text;
}

// Every byte value, shuffled, again and again.
static std::string Bytes(size_t size)
{
    std::string bytes(size, 0);
    uint32_t state = 12345;
    for (size_t i = 0; i < size; i++) {
        state = state * 1103515245 + 12345;
        bytes[i] = (char)(i % 256 == 0 ? 0 : (state >> 16) & 0xFF);
    }
    for (int value = 0; value < 256 && size >= 256; value++)
        bytes[size / 2 + value] = (char)value;
    return bytes;
}

class Capturing : public SimTest
{
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        folder = Folder();
        CaptureLocalTime = SimLocalTime;
    }
    void TearDown() override
    {
        SimTest::TearDown();
        StopCaptures("", nullptr, 0);
        EXPECT_TRUE(WaitForCaptureWriter(WriterLimitMs));
        CaptureWriteFile = WriteFile;
        CaptureLocalTime = GetLocalTime;
        for (const std::string& path : made)
            DeleteFileA(path.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    std::string Path(const char* name)
    {
        made.push_back(folder + name);
        return made.back();
    }
    int Start(PortRecord* port, const char* name, int form, int flags = 0)
    {
        DWORD error = 0;
        int result = StartCapture(port, Path(name).c_str(), form, flags, &error);
        EXPECT_EQ(0u, error) << name;
        return result;
    }
    std::string Written(const char* name)
    {
        EXPECT_TRUE(WaitForCaptureWriter(WriterLimitMs));
        return Slurp(folder + name);
    }
    static void Run(int ms, int step = 10)
    {
        for (int t = 0; t < ms; t += step) {
            Sim::Advance(step);
            PollAllPorts();
        }
    }
    // Sends `bytes` into the ports in pieces a poll reads whole, a poll every `ms`.
    static void Feed(const std::vector<int>& numbers, const std::string& bytes, size_t piece,
                     int ms = 10)
    {
        for (size_t at = 0; at < bytes.size(); at += piece) {
            for (int n : numbers)
                Sim::PeerSend(n, bytes.data() + at, (DWORD)std::min(piece, bytes.size() - at));
            Run(ms, ms);
        }
    }
    std::string folder;
    std::vector<std::string> made;
};

static const char* const FormFiles[CAPTURE_FORMS] = {"raw.bin", "shown.txt", "stamped.txt"};

// A line error, a wrap, a carriage return over a line, Clear Screen with a
// line unfinished, bytes shown as markers, and the line still open at stop.
TEST_F(Capturing, EachFormKeepsWhatArrivedOrWhatTheScreenHeld)
{
    PortRecord* ports[CAPTURE_FORMS];
    for (int form = 0; form < CAPTURE_FORMS; form++) {
        ports[form] = Open(form + 1);
        ASSERT_EQ(CAPTURE_STARTED, Start(ports[form], FormFiles[form], form));
    }
    const std::string x80(80, 'X'),
        sent[] = {"hello\x1b[1m\r\n", x80 + "XXXXX\r\n", "12345\rab\n", "tail",
                  std::string("\0\x7f\x80\x81\xff"
                              "end",
                              8)};
    for (int step = 0; step < 5; step++) {
        for (int n = 1; n <= 3 && step == 3; n++)
            Sim::InjectLineErrors(n, CE_FRAME);
        Feed({1, 2, 3}, sent[step], 4096);
        for (int n = 0; n < 3 && step == 3; n++)
            ClearScreen(ports[n]);
    }
    EXPECT_EQ(3, StopCaptures("", nullptr, 0));
    Feed({1, 2, 3}, "after\r\n", 4096);
    const std::string lines[] = {
        "hello<1bH>[1m", x80, "XXXXX", "ab", "<ERR:FRAME>tail", "<0H>\x7f\x80<81H><ffH>end"};
    const int finishedAt[] = {10, 20, 20, 30, 40, 50};
    std::string shown, stamped;
    for (int i = 0; i < 6; i++) {
        shown += lines[i] + "\r\n";
        stamped += Stamp(finishedAt[i]) + lines[i] + "\r\n";
    }
    std::string raw;
    for (const std::string& s : sent)
        raw += s;
    EXPECT_EQ("", Difference(raw, Written(FormFiles[CAPTURE_RAW])));
    EXPECT_EQ("", Difference(shown, Written(FormFiles[CAPTURE_AS_SHOWN])));
    EXPECT_EQ("", Difference(stamped, Written(FormFiles[CAPTURE_TIMESTAMPS])));
}

// Far more than a block, every byte value, in reads that end anywhere: the
// raw file is what was sent, the text files each line as the ring held it
// when it was finished, read back from the ring after every poll.
TEST_F(Capturing, LongInputLosesNothingAtAnyBoundary)
{
    std::vector<PortRecord*> ports;
    for (int form = 0; form < CAPTURE_FORMS; form++) {
        ports.push_back(Open(form + 1));
        ASSERT_EQ(CAPTURE_STARTED, Start(ports[form], FormFiles[form], form));
    }
    ShowCrLf = 1;
    const std::string bytes = Bytes(3 * CAPTURE_BLOCK_BYTES + 777);
    const PortRecord* ring = ports[CAPTURE_AS_SHOWN];
    std::string shown, stamped;
    int line = ring->currentLine;
    // At most 300 bytes a poll make fewer lines than the ring holds.
    for (size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = 1 + at * 7 % 300) {
        Feed({1, 2, 3}, bytes.substr(at, piece), piece, 1); // faster than the writes each second
        for (; line != ring->currentLine; line = (line + 1) % SCREEN_LINES) {
            shown += ring->lines[line].text + std::string("\r\n");
            stamped += Stamp((int)Sim::Now()) + ring->lines[line].text + "\r\n";
        }
    }
    if (ring->lines[line].text[0]) {
        shown += ring->lines[line].text + std::string("\r\n");
        stamped += Stamp((int)Sim::Now()) + ring->lines[line].text + "\r\n";
    }
    EXPECT_EQ(3, StopCaptures("", nullptr, 0));
    EXPECT_EQ("", Difference(bytes, Written(FormFiles[CAPTURE_RAW])));
    EXPECT_EQ("", Difference(shown, Written(FormFiles[CAPTURE_AS_SHOWN])));
    EXPECT_EQ("", Difference(stamped, Written(FormFiles[CAPTURE_TIMESTAMPS])));
}

struct EndCase {
    const char* name;
    std::function<void(PortRecord*)> end;
    bool endWaits; // the end itself must wait for the writer
};

// A slow disk, so that an end that did not wait would be seen.
static BOOL WINAPI SlowWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD wrote,
                             LPOVERLAPPED overlapped)
{
    Sleep(100);
    return WriteFile(file, data, size, wrote, overlapped);
}

class CaptureEnds : public FrameTest
{
};

// The unfinished line is kept, nothing after the end is; the program's end
// and the log-off have written everything before they return.
TEST_F(CaptureEnds, StopCloseExitAndLogOffWriteEverything)
{
    const EndCase cases[] = {
        {"stop", [](PortRecord*) { StopCaptures("COM5", nullptr, 0); }, false},
        {"close", [](PortRecord*) { Command(CMD_CLOSE); }, false},
        {"clear and close",
         [](PortRecord* port) {
             Command(CMD_CLEAR_SCREEN, port->window);
             Command(CMD_CLOSE);
         },
         false},
        {"exit",
         [](PortRecord*) {
             SendMessageA(FrameWindow, WM_CLOSE, 0, 0);
             RunMessageLoop(nullptr);
         },
         true},
        {"log-off",
         [](PortRecord*) {
             SendMessageA(FrameWindow, WM_QUERYENDSESSION, 0, 0);
             SendMessageA(FrameWindow, WM_ENDSESSION, TRUE, 0);
         },
         true},
    };
    std::string folder = Folder(), path = folder + "ends.txt";
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTest::SetUp();
        CaptureLocalTime = SimLocalTime;
        DeleteFileA(path.c_str());
        PortRecord* port = OpenWindow(5);
        DWORD error = 0;
        ASSERT_EQ(CAPTURE_STARTED, StartCapture(port, path.c_str(), CAPTURE_TIMESTAMPS, 0, &error));
        Sim::PeerSend(5, "one\r\ntwo", 8);
        Ticks(1, 10);
        CaptureWriteFile = c.endWaits ? SlowWrite : WriteFile;
        c.end(port);
        if (!c.endWaits) {
            EXPECT_TRUE(WaitForCaptureWriter(WriterLimitMs));
        }
        EXPECT_EQ("", Difference(Stamp(10) + "<Port Opened>one\r\n" + Stamp(10) + "two\r\n",
                                 Slurp(path)));
        if (IsWindow(FrameWindow) && PortListHead) {
            Sim::PeerSend(5, "three\r\n", 7);
            Ticks(1, 10);
        }
        EXPECT_TRUE(WaitForCaptureWriter(WriterLimitMs));
        EXPECT_EQ(0, CaptureCount());
        EXPECT_EQ("", Difference(Stamp(10) + "<Port Opened>one\r\n" + Stamp(10) + "two\r\n",
                                 Slurp(path)));
        EXPECT_EQ(Texts{}, boxes.All());
        TearDown();
    }
    CaptureLocalTime = GetLocalTime;
    CaptureWriteFile = WriteFile;
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

// Also while a box the poll raised holds the poll.
TEST_F(Capturing, WrittenAtLeastOnceASecondOfTheClock)
{
    PortRecord* port = Open(5);
    SetErrorMode(0);
    ASSERT_EQ(CAPTURE_STARTED, Start(port, "second.bin", CAPTURE_RAW));
    EXPECT_NE(0u, GetErrorMode() & SEM_FAILCRITICALERRORS);
    Sim::PeerSend(5, "x", 1);
    Run(990);
    EXPECT_EQ("", Written("second.bin"));
    Run(10);
    EXPECT_EQ("x", Written("second.bin"));
    Sim::PeerSend(5, "y", 1);
    Run(10);
    Sim::PeerSend(5, "z", 1);
    Sim::FailCall(Sim::CALL_READ_FILE, ERROR_ACCESS_DENIED);
    std::string duringTheBox;
    boxes.onBox = [&](const ShownBox&) {
        Sim::Advance(1000);
        PollAllPorts(); // the timer, through the box's message loop
        duringTheBox = Written("second.bin");
    };
    Run(10);
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("xy", duringTheBox);
}

// The writer that fails on the file of COM5, after two blocks or at once and for good.
static int StuckWriter = 0;
static HANDLE Release = nullptr;
static BOOL WINAPI FailingWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD wrote,
                                LPOVERLAPPED overlapped)
{
    char path[MAX_PATH] = "";
    GetFinalPathNameByHandleA(file, path, sizeof path, 0);
    LARGE_INTEGER at = {};
    SetFilePointerEx(file, at, &at, FILE_CURRENT);
    if (strstr(path, "failing") && StuckWriter)
        WaitForSingleObject(Release, INFINITE);
    if (strstr(path, "failing") && (StuckWriter || at.QuadPart >= 2 * CAPTURE_BLOCK_BYTES)) {
        SetLastError(StuckWriter ? ERROR_SEM_TIMEOUT : ERROR_DISK_FULL);
        return FALSE;
    }
    return WriteFile(file, data, size, wrote, overlapped);
}

// A full disk, and one that takes nothing: that port's capture fails with
// the reason, without a box; its port and the other capture go on.
TEST_F(Capturing, AFailingDiskStopsOnlyItsCapture)
{
    const struct {
        const char* name;
        int stuck;
        size_t size;
        DWORD error;
        uint64_t written;
    } cases[] = {
        {"full", 0, 300000, ERROR_DISK_FULL, 2 * CAPTURE_BLOCK_BYTES},
        {"stuck", 1, CAPTURE_PENDING_LIMIT + 2 * CAPTURE_BLOCK_BYTES, ERROR_NOT_ENOUGH_MEMORY, 0}};
    CaptureWriteFile = FailingWrite;
    Release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    PortRecord *failing = Open(5), *fine = Open(6);
    Sim::SetQueueSizes(5, 1 << 20, 4096);
    Sim::SetQueueSizes(6, 1 << 20, 4096);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StuckWriter = c.stuck;
        ResetEvent(Release);
        // The one writer waits for the stuck disk, so the other port gets less.
        std::string bytes = Bytes(c.size), fewer = bytes.substr(0, 300000);
        ASSERT_EQ(CAPTURE_STARTED, Start(failing, "failing.bin", CAPTURE_RAW, CAPTURE_REPLACE));
        ASSERT_EQ(CAPTURE_STARTED, Start(fine, "fine.bin", CAPTURE_RAW, CAPTURE_REPLACE));
        Feed({5}, bytes, 1 << 20);
        Feed({6}, fewer, 1 << 20);
        Run(2000);
        SetEvent(Release);
        EXPECT_TRUE(WaitForCaptureWriter(WriterLimitMs));
        Run(10);
        EXPECT_EQ(nullptr, failing->capture);
        EXPECT_EQ(bytes.size(), failing->counters.bytesReceived);
        CaptureInfo records[2];
        ASSERT_EQ(2, ListCaptures("", records, 2));
        const CaptureInfo& failed = strcmp(records[0].port, "COM5") ? records[1] : records[0];
        EXPECT_EQ(CAPTURE_FAILED, failed.state);
        EXPECT_EQ(c.error, failed.error);
        EXPECT_EQ(c.written, failed.written);
        EXPECT_EQ("", Difference(bytes.substr(0, c.written), Written("failing.bin")));
        EXPECT_EQ(2, StopCaptures("", records, 2));
        EXPECT_EQ("", Difference(fewer, Written("fine.bin")));
        EXPECT_EQ(0, CaptureCount());
        failing->counters.bytesReceived = 0;
    }
    EXPECT_EQ(Texts{}, boxes.All());
    CloseHandle(Release);
}

struct RequestCase {
    const char* name;
    DWORD size;
    uint32_t version, kind;
    const char* port; // nullptr: not terminated
    uint32_t form, flags;
    const char* path; // in the test's folder, unless it starts with '='; nullptr: not terminated
    uint32_t reserved, status, records = 0, error = 0;
    const char* file = nullptr; // what the file holds after "new" CR LF arrived
};

static const DWORD StartSize = sizeof(QueryCaptureRequest), OtherSize = sizeof(QueryRequest);
static const uint32_t V2 = QUERY_VERSION, Go = QUERY_CAPTURE_START, Stop = QUERY_CAPTURE_STOP;

// COM5 and COM6 are open, COM6 captures into taken.bin, old.txt holds "old".
static const RequestCase RequestCases[] = {
    {"Start", StartSize, V2, Go, "COM5", CAPTURE_RAW, 0, "new.bin", 0, QUERY_OK, 1, 0, "new\r\n"},
    {"Append", StartSize, V2, Go, "com5", CAPTURE_AS_SHOWN, CAPTURE_APPEND, "old.txt", 0, QUERY_OK,
     1, 0, "oldnew\r\n"},
    {"Replace", StartSize, V2, Go, "COM5", 1, CAPTURE_REPLACE, "old.txt", 0, QUERY_OK, 1, 0,
     "new\r\n"},
    {"Exists", StartSize, V2, Go, "COM5", 1, 0, "old.txt", 0, QUERY_CAPTURE_REFUSED, 1,
     ERROR_FILE_EXISTS, "old"},
    {"NoFolder", StartSize, V2, Go, "COM5", 0, 0, "none\\x.bin", 0, QUERY_CAPTURE_REFUSED, 1,
     ERROR_PATH_NOT_FOUND},
    {"SameFile", StartSize, V2, Go, "COM5", 0, CAPTURE_APPEND, "TAKEN.bin", 0,
     QUERY_CAPTURE_SAME_FILE},
    {"Busy", StartSize, V2, Go, "COM6", 0, 0, "other.bin", 0, QUERY_CAPTURE_BUSY},
    {"NotOpen", StartSize, V2, Go, "COM7", 0, 0, "new.bin", 0, QUERY_NO_PORT},
    {"NameUnterminated", StartSize, V2, Go, nullptr, 0, 0, "new.bin", 0, QUERY_BAD_NAME},
    {"FirstVersion", OtherSize, QUERY_VERSION_1, Go, "COM5", 0, 0, "", 0, QUERY_BAD_KIND},
    {"FirstVersionFull", StartSize, QUERY_VERSION_1, Go, "COM5", 0, 0, "new.bin", 0,
     QUERY_BAD_SIZE},
    {"Short", StartSize - 1, V2, Go, "COM5", 0, 0, "new.bin", 0, QUERY_BAD_SIZE},
    {"Long", StartSize + 1, V2, Go, "COM5", 0, 0, "new.bin", 0, QUERY_BAD_SIZE},
    {"StopOfStartSize", StartSize, V2, Stop, "COM6", 0, 0, "", 0, QUERY_BAD_SIZE},
    {"FormUnknown", StartSize, V2, Go, "COM5", 3, 0, "new.bin", 0, QUERY_CAPTURE_BAD_FORM},
    {"FlagsUnknown", StartSize, V2, Go, "COM5", 0, 4, "new.bin", 0, QUERY_CAPTURE_BAD_FORM},
    {"AppendAndReplace", StartSize, V2, Go, "COM5", 0, 3, "new.bin", 0, QUERY_CAPTURE_BAD_FORM},
    {"Reserved", StartSize, V2, Go, "COM5", 0, 0, "new.bin", 1, QUERY_CAPTURE_BAD_FORM},
    {"PathEmpty", StartSize, V2, Go, "COM5", 0, 0, "=", 0, QUERY_CAPTURE_BAD_PATH},
    {"PathUnterminated", StartSize, V2, Go, "COM5", 0, 0, nullptr, 0, QUERY_CAPTURE_BAD_PATH},
    {"PathRelative", StartSize, V2, Go, "COM5", 0, 0, "=new.bin", 0, QUERY_CAPTURE_BAD_PATH},
    {"PathOnDrive", StartSize, V2, Go, "COM5", 0, 0, "=C:new.bin", 0, QUERY_CAPTURE_BAD_PATH},
    {"Device", StartSize, V2, Go, "COM5", 0, 0, "=\\\\.\\COM6", 0, QUERY_CAPTURE_BAD_PATH},
    {"DeviceName", StartSize, V2, Go, "COM5", 0, 0, "COM6.bin", 0, QUERY_CAPTURE_BAD_PATH},
    {"StopNotCapturing", OtherSize, V2, Stop, "COM5", 0, 0, "", 0, QUERY_CAPTURE_NONE},
    {"StopNotOpen", OtherSize, V2, Stop, "COM7", 0, 0, "", 0, QUERY_NO_PORT},
    {"List", OtherSize, V2, QUERY_CAPTURE_LIST, "", 0, 0, "", 0, QUERY_OK, 1},
    {"StopOne", OtherSize, V2, Stop, "COM6", 0, 0, "", 0, QUERY_OK, 1},
};

TEST_F(Capturing, RequestsAreCarriedOutOrRefusedWithTheirStatus)
{
    HWND window = CreateReplyWindow();
    PortRecord *port = Open(5), *other = Open(6);
    ASSERT_EQ(CAPTURE_STARTED, Start(other, "taken.bin", CAPTURE_RAW));
    for (const RequestCase& c : RequestCases) {
        SCOPED_TRACE(c.name);
        Spit(Path("old.txt"), "old");
        QueryCaptureRequest request;
        memset(&request, 'A', sizeof request);
        request.version = c.version;
        request.kind = c.kind;
        request.replyWindow = (uint64_t)(UINT_PTR)window;
        if (c.port)
            strcpy(request.port, c.port);
        request.form = c.form;
        request.flags = c.flags;
        if (c.path)
            strcpy(request.path,
                   (c.path[0] == '=' ? std::string(c.path + 1) : Path(c.path)).c_str());
        request.reserved = c.reserved;
        COPYDATASTRUCT data = {QUERY_REQUEST_ID, c.size, &request};
        QueryReply.clear();
        EXPECT_EQ(TRUE, AnswerQuery(nullptr, &data));
        QueryReplyHeader2 header = {};
        ASSERT_GE(QueryReply.size(), sizeof header.head);
        memcpy(&header, QueryReply.data(), std::min(QueryReply.size(), sizeof header));
        EXPECT_EQ(c.status, header.head.status);
        ASSERT_EQ(c.records, header.head.count);
        size_t headerSize = header.head.version == QUERY_VERSION ? sizeof header : 24;
        ASSERT_EQ(headerSize + c.records * sizeof(QueryCaptureStatus), QueryReply.size());
        QueryCaptureStatus record = {};
        if (c.records)
            memcpy(&record, QueryReply.data() + headerSize, sizeof record);
        EXPECT_EQ(c.error, record.error);
        if (c.file) {
            EXPECT_EQ(c.status == QUERY_OK ? CAPTURE_RUNNING : CAPTURE_FAILED, (int)record.state);
            Sim::PeerSend(5, "new\r\n", 5);
            Run(10);
            StopCaptures("COM5", nullptr, 0);
            EXPECT_EQ("", Difference(c.file, Written(c.path)));
        }
        EXPECT_EQ(nullptr, port->capture);
    }
    EXPECT_EQ(nullptr, other->capture);
    DestroyWindow(window);
}
