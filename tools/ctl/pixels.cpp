// A port window's lamps and text rows, read back from the screen's pixels.
#include "tools/ctl/ctl.h"
#include "view/layout.h"

#include <stdio.h>
#include <string.h>

// A 32-bit memory bitmap to draw or copy into, read back as 0xRRGGBB.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    void* bits;
    int width;
    int height;
};

static void OpenCanvas(Canvas* canvas, HDC like, int width, int height)
{
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    canvas->dc = CreateCompatibleDC(like);
    canvas->bits = nullptr;
    canvas->bitmap = CreateDIBSection(canvas->dc, &info, DIB_RGB_COLORS, &canvas->bits, nullptr, 0);
    canvas->oldBitmap = SelectObject(canvas->dc, canvas->bitmap);
    canvas->width = width;
    canvas->height = height;
}

static std::vector<DWORD> CloseCanvas(Canvas* canvas)
{
    GdiFlush();
    std::vector<DWORD> pixels(canvas->width * canvas->height, 0);
    const DWORD* data = (const DWORD*)canvas->bits;
    for (size_t i = 0; data && i < pixels.size(); i++)
        pixels[i] = data[i] & 0xFFFFFF;
    SelectObject(canvas->dc, canvas->oldBitmap);
    DeleteObject(canvas->bitmap);
    DeleteDC(canvas->dc);
    return pixels;
}

// A rectangle of the port window's client area as it is on the screen, as
// 0xRRGGBB values. Another process's child window cannot be read directly
// under Wine, so the same pixels are copied from its top-level window.
static int CaptureClient(HWND window, int left, int top, int width, int height,
                         std::vector<DWORD>* pixels)
{
    HWND topLevel = GetAncestor(window, GA_ROOT);
    RECT frame;
    POINT origin = {left, top};
    if (!topLevel || !GetWindowRect(topLevel, &frame) || !ClientToScreen(window, &origin))
        return Fail("cannot locate the port window on the screen");
    HDC source = GetWindowDC(topLevel);
    Canvas canvas;
    OpenCanvas(&canvas, source, width, height);
    BOOL copied = BitBlt(canvas.dc, 0, 0, width, height, source, origin.x - frame.left,
                         origin.y - frame.top, SRCCOPY);
    *pixels = CloseCanvas(&canvas);
    ReleaseDC(topLevel, source);
    if (!copied)
        return Fail("could not copy the port window from the screen: error %lu", GetLastError());
    return EXIT_OK;
}

// Captured pixels are 0xRRGGBB; a COLORREF is 0xBBGGRR.
static DWORD ScreenColour(COLORREF colour)
{
    return (DWORD)GetRValue(colour) << 16 | (DWORD)GetGValue(colour) << 8 | GetBValue(colour);
}

static const char* LampState(const std::vector<DWORD>& pixels, int stride, int left, int right,
                             COLORREF litColour)
{
    int lit = 0, dark = 0, all = 0;
    for (int y = LAMP_TOP + 1; y < LAMP_BOTTOM - 1; y++) {
        for (int x = left + 1; x < right - 1; x++) {
            DWORD colour = pixels[y * stride + x];
            lit += colour == ScreenColour(litColour);
            dark += colour == ScreenColour(DARK_LAMP_COLOUR);
            all++;
        }
    }
    if (lit * 4 >= all)
        return "lit";
    if (dark * 4 >= all)
        return "dark";
    return "absent";
}

int PrintLamps(HWND window)
{
    const int width = 570;
    std::vector<DWORD> pixels;
    int status = CaptureClient(window, 0, 0, width, LAMP_BOTTOM + 1, &pixels);
    if (status != EXIT_OK)
        return status;
    int left[LAMP_COUNT], lampWidth[LAMP_COUNT];
    LayoutLampRow(SignalRowLabels, 1, left, lampWidth);
    for (int i = 0; i < LAMP_COUNT; i++) {
        printf("%s%s=%s", i ? " " : "", SignalRowLabels[i],
               LampState(pixels, width, left[i], left[i] + lampWidth[i], LIT_SIGNAL_COLOUR));
    }
    printf("\n");
    LayoutLampRow(HoldRowLabels, 0, left, lampWidth);
    for (int i = 0; i < LAMP_COUNT; i++) {
        int x = HOLD_ROW_OFFSET + left[i];
        const char* state = LampState(pixels, width, x, x + lampWidth[i], HOLD_COLOUR);
        printf("%s%s=%s", i ? " " : "", HoldRowLabels[i], strcmp(state, "lit") ? "off" : "on");
    }
    printf("\n");
    return EXIT_OK;
}

int PrintPixel(HWND window, int argc, char** argv)
{
    long x = 0, y = 0;
    if (argc != 2 || !ParseNumber(argv[0], &x) || !ParseNumber(argv[1], &y))
        return UsageError("pixel takes X Y");
    std::vector<DWORD> pixels;
    int status = CaptureClient(window, (int)x, (int)y, 1, 1, &pixels);
    if (status == EXIT_OK && !pixels.empty())
        printf("%06lX\n", (unsigned long)pixels[0]);
    return status;
}

// The port window paints each text row as a white band from x 10 with the
// text on it in the default font; the same drawing in a memory bitmap gives
// the exact pixels the row must show.
static std::vector<DWORD> DrawExpectedRow(const std::string& text, int width)
{
    HDC screen = GetDC(nullptr);
    Canvas canvas;
    OpenCanvas(&canvas, screen, width, TEXT_ROW_HEIGHT);
    HGDIOBJ oldFont = SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
    RECT band = {0, 0, width, TEXT_ROW_HEIGHT};
    FillRect(canvas.dc, &band, (HBRUSH)GetStockObject(WHITE_BRUSH));
    SetBkMode(canvas.dc, TRANSPARENT);
    SetTextColor(canvas.dc, RGB(0, 0, 0));
    TextOutA(canvas.dc, TEXT_LEFT, 0, text.data(), (int)text.size());
    SelectObject(canvas.dc, oldFont);
    std::vector<DWORD> pixels = CloseCanvas(&canvas);
    ReleaseDC(nullptr, screen);
    return pixels;
}

static int OverlapFromRowAbove()
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ oldFont = SelectObject(memory, GetStockObject(SYSTEM_FONT));
    TEXTMETRICA metrics;
    ZeroMemory(&metrics, sizeof metrics);
    GetTextMetricsA(memory, &metrics);
    SelectObject(memory, oldFont);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    int overlap = metrics.tmHeight - TEXT_ROW_HEIGHT;
    return overlap < 0 ? 0 : (overlap > TEXT_ROW_HEIGHT / 2 ? TEXT_ROW_HEIGHT / 2 : overlap);
}

static void WriteImage(const std::string& path, const std::vector<DWORD>& pixels, int width,
                       int height)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return;
    fprintf(file, "P6\n%d %d\n255\n", width, height);
    for (DWORD colour : pixels) {
        unsigned char rgb[3] = {(unsigned char)(colour >> 16), (unsigned char)(colour >> 8),
                                (unsigned char)colour};
        fwrite(rgb, 1, 3, file);
    }
    fclose(file);
}

// Rows are painted from the bottom up in a font taller than the row pitch, so
// the row above may reach down into a band's top lines; those are skipped.
static int CountDifferences(const std::vector<DWORD>& shown, const std::vector<DWORD>& expected,
                            int width, int* first)
{
    int differ = 0;
    *first = -1;
    for (int y = OverlapFromRowAbove(); y < TEXT_ROW_HEIGHT; y++) {
        for (int x = TEXT_LEFT; x < width; x++) {
            if (shown[y * width + x] != expected[y * width + x]) {
                if (*first < 0)
                    *first = x;
                differ++;
            }
        }
    }
    return differ;
}

int CheckRow(HWND window, int argc, char** argv)
{
    long row = -1;
    const char* dump = nullptr;
    if (argc >= 2 && strcmp(argv[argc - 2], "--dump") == 0) {
        dump = argv[argc - 1];
        argc -= 2;
    }
    if (argc < 1 || argc > 2 || (argc == 2 && !ParseNumber(argv[1], &row)))
        return UsageError("check-row takes TEXT [ROW] [--dump PATH]");
    RECT client;
    GetClientRect(window, &client);
    int rows = client.bottom / TEXT_ROW_HEIGHT - 1;
    if (rows < 1)
        return Fail("the port window is too small to show a text row");
    if (row < 0)
        row = rows;
    if (row < 1 || row > rows)
        return Fail("row %ld is not shown; the window shows rows 1 to %d", row, rows);
    int width = client.right;
    std::vector<DWORD> expected = DrawExpectedRow(argv[0], width);
    int differ = 0, first = -1;
    for (long waited = 0;; waited += WAIT_STEP_MS) {
        std::vector<DWORD> shown;
        int status = CaptureClient(window, 0, TEXT_ROW_HEIGHT * (int)row + TEXT_ROW_DROP, width,
                                   TEXT_ROW_HEIGHT, &shown);
        if (status != EXIT_OK)
            return status;
        if (dump) {
            WriteImage(std::string(dump) + "-shown.ppm", shown, width, TEXT_ROW_HEIGHT);
            WriteImage(std::string(dump) + "-expected.ppm", expected, width, TEXT_ROW_HEIGHT);
        }
        differ = CountDifferences(shown, expected, width, &first);
        if (!differ || waited >= WaitMs)
            break;
        Sleep(WAIT_STEP_MS);
    }
    if (differ) {
        printf("row %ld differs from \"%s\" in %d pixels, first at x %d\n", row, argv[0], differ,
               first);
        return EXIT_FAILED;
    }
    printf("row %ld shows \"%s\"\n", row, argv[0]);
    return EXIT_OK;
}
