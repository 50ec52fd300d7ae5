// A port window's lamps and text rows, read back from the screen's pixels.
#include "tools/ctl/ctl.h"
#include "tools/ctl/query.h"
#include "view/layout.h"
#include "view/text_rows.h"

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

// The lines the program shows in rows 1 to `rows`, from its screen (the
// last of the 35 is the bottom row); rows above the 35th are blank.
static int ShownLines(const Target& target, HWND window, int rows, std::vector<std::string>* shown)
{
    QueryReplyHeader2 header;
    std::vector<char> lines;
    int status = Query(target, QUERY_SCREEN, ReadWindowText(window).c_str(), &header, &lines);
    if (status != EXIT_OK)
        return status;
    shown->assign(rows + 1, "");
    int count = (int)header.head.count;
    for (int row = rows; row >= 1 && rows - row < count; row--) {
        const char* line = lines.data() + (count - 1 - (rows - row)) * QUERY_SCREEN_LINE_BYTES;
        (*shown)[row] = std::string(line, strnlen(line, QUERY_SCREEN_LINE_BYTES));
    }
    return EXIT_OK;
}

// How far below its top a row's text reaches: the rows drawn in the row font.
static int RowTextHeight(HFONT font)
{
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, font ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT));
    TEXTMETRICA metrics;
    ZeroMemory(&metrics, sizeof metrics);
    GetTextMetricsA(memory, &metrics);
    SelectObject(memory, old);
    DeleteDC(memory);
    return metrics.tmHeight > TEXT_ROW_HEIGHT ? metrics.tmHeight : TEXT_ROW_HEIGHT;
}

// What a full repaint shows from the top of `row` down to `bottom` (a y): the
// row with `text` and the rows beside it, whose text reaches into it or into
// which its text reaches, drawn as the program draws them.
static std::vector<DWORD> DrawExpectedRows(HFONT font, const std::vector<std::string>& shown,
                                           int rows, int row, const std::string& text, int width,
                                           int bottom, int clientBottom)
{
    int first = row > 1 ? row - 1 : row, last = row < rows ? row + 1 : row;
    std::vector<std::string> lines(shown.begin() + first, shown.begin() + last + 1);
    lines[row - first] = text;
    std::vector<const char*> texts;
    for (const std::string& line : lines)
        texts.push_back(line.c_str());
    Canvas canvas;
    OpenCanvas(&canvas, nullptr, width, bottom - RowTop(row));
    SetViewportOrgEx(canvas.dc, 0, -RowTop(row), nullptr);
    HGDIOBJ oldFont = SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
    BeginTextRows(canvas.dc, font);
    int fillBottom = last == rows ? clientBottom : RowTop(last) + TEXT_ROW_HEIGHT;
    DrawTextRows(canvas.dc, first, (int)texts.size(), texts.data(), nullptr, fillBottom, false);
    SelectObject(canvas.dc, oldFont);
    return CloseCanvas(&canvas);
}

static int CountDifferences(const std::vector<DWORD>& shown, const std::vector<DWORD>& expected,
                            int width, int* firstX, int* firstY)
{
    int differ = 0;
    *firstX = *firstY = -1;
    for (size_t i = 0; i < shown.size() && i < expected.size(); i++) {
        if (shown[i] != expected[i] && differ++ == 0) {
            *firstX = (int)(i % width);
            *firstY = (int)(i / width);
        }
    }
    return differ;
}

int CheckRow(const Target& target, HWND window, int argc, char** argv)
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
    HFONT font = CreateRowFont();
    // The row's own text and the top of the row below, which its text reaches into.
    int bottom = RowTop((int)row) + RowTextHeight(font);
    if (bottom > client.bottom)
        bottom = client.bottom;
    int height = bottom - RowTop((int)row);
    int status = EXIT_OK, differ = 0, x = -1, y = -1;
    for (long waited = 0;; waited += WAIT_STEP_MS) {
        std::vector<std::string> shownLines;
        std::vector<DWORD> shown;
        status = ShownLines(target, window, rows, &shownLines);
        if (status == EXIT_OK)
            status = CaptureClient(window, 0, RowTop((int)row), width, height, &shown);
        if (status != EXIT_OK)
            break;
        std::vector<DWORD> expected = DrawExpectedRows(font, shownLines, rows, (int)row, argv[0],
                                                       width, bottom, client.bottom);
        if (dump) {
            WriteImage(std::string(dump) + "-shown.ppm", shown, width, height);
            WriteImage(std::string(dump) + "-expected.ppm", expected, width, height);
        }
        differ = CountDifferences(shown, expected, width, &x, &y);
        if (!differ || waited >= WaitMs)
            break;
        Sleep(WAIT_STEP_MS);
    }
    if (font)
        DeleteObject(font);
    if (status != EXIT_OK)
        return status;
    if (differ) {
        printf("row %ld differs from \"%s\" in %d pixels, first at x %d, y %d of the row\n", row,
               argv[0], differ, x, y);
        return EXIT_FAILED;
    }
    printf("row %ld shows \"%s\"\n", row, argv[0]);
    return EXIT_OK;
}
