// A shown window of known client size whose pixels a test can read back,
// standing in for a port window (which has its own drawing surface too).
#pragma once
#include <vector>
#include <windows.h>

// A colour no painting uses, so untouched pixels are easy to tell apart.
static const COLORREF Background = RGB(255, 0, 255);
static const COLORREF White = RGB(255, 255, 255);
static const COLORREF Black = RGB(0, 0, 0);
static const COLORREF LitGreen = RGB(128, 255, 128);
static const COLORREF DarkGrey = RGB(192, 192, 192);
static const COLORREF HoldBlue = RGB(128, 128, 255);

// A lamp's fill shows just inside its left edge on this line, below the
// label and above the rounded bottom corners.
static const int LampFillY = 14;

class PixelWindow
{
  public:
    static const int Width = 640;

    ~PixelWindow()
    {
        Close();
    }

    // A shown popup whose client area is exactly Width x height.
    HWND Open(int height)
    {
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc = {};
            wc.style = CS_OWNDC;
            wc.lpfnWndProc = DefWindowProcA;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.hbrBackground = CreateSolidBrush(Background);
            wc.lpszClassName = "PixelTestWindow";
            RegisterClassA(&wc);
            registered = true;
        }
        window =
            CreateWindowExA(WS_EX_TOPMOST, "PixelTestWindow", "pixels", WS_POPUP, 40, 40, Width,
                            height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        if (!window)
            return nullptr;
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        Pump();
        return window;
    }

    void Close()
    {
        if (window)
            DestroyWindow(window);
        window = nullptr;
        Pump();
    }

    int ClientHeight() const
    {
        RECT client;
        GetClientRect(window, &client);
        return client.bottom;
    }

    static void Pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    COLORREF Pixel(int x, int y) const
    {
        HDC dc = GetDC(window);
        COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(window, dc);
        return c;
    }

    std::vector<COLORREF> Area(int left, int top, int right, int bottom) const
    {
        HDC dc = GetDC(window);
        std::vector<COLORREF> pixels;
        for (int y = top; y < bottom; y++)
            for (int x = left; x < right; x++)
                pixels.push_back(GetPixel(dc, x, y));
        ReleaseDC(window, dc);
        return pixels;
    }

    bool AllOf(COLORREF colour, int left, int top, int right, int bottom) const
    {
        for (COLORREF c : Area(left, top, right, bottom))
            if (c != colour)
                return false;
        return true;
    }

    int CountOf(COLORREF colour, int left, int top, int right, int bottom) const
    {
        int count = 0;
        for (COLORREF c : Area(left, top, right, bottom))
            count += c == colour;
        return count;
    }

    // Paints over an area, so a test can see whether it gets repainted.
    void Scribble(int left, int top, int right, int bottom) const
    {
        HDC dc = GetDC(window);
        RECT area = {left, top, right, bottom};
        HBRUSH brush = CreateSolidBrush(Background);
        FillRect(dc, &area, brush);
        DeleteObject(brush);
        ReleaseDC(window, dc);
    }

    HWND window = nullptr;
};
