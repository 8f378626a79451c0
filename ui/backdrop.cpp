#include "ui.h"
#include "backdrop_layout.h"
#include "resource.h"

char BackdropTitle[BackdropTitleSize];
HFONT BackdropFont;

namespace {
const char BackdropClassName[] = "install";
const COLORREF TitleColour = RGB(255, 255, 255);
const int DesignDpi = 96;
const int TitleDesignHeight = 48;

// The big and the small icon, each at the size its system metric gives.
const struct {
    WPARAM kind;
    int metric;
} ProductIcons[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};

// What the title's fonts are made for: the product's code page, and the DPI
// of the font in BackdropFont.
UINT TitleCodePage;
UINT TitleDpi;

typedef UINT(WINAPI* GetDpiForWindowFn)(HWND);
typedef int(WINAPI* GetSystemMetricsForDpiFn)(int, UINT);

// Windows before 10 version 1607 lack the calls for a DPI of its own per
// window: looked up, so that the programs still start there.
void* User32Function(const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name));
}

int SystemMetricForDpi(int metric, UINT dpi)
{
    auto forDpi = reinterpret_cast<GetSystemMetricsForDpiFn>(User32Function("GetSystemMetricsForDpi"));
    // Without it the system has one DPI, whose metrics GetSystemMetrics gives.
    return forDpi ? forDpi(metric, dpi) : GetSystemMetrics(metric);
}

// The product's icon drawn from the image of the size asked for, not stretched from another.
HICON LoadProductIcon(HINSTANCE instance, int metric, UINT dpi)
{
    int size = SystemMetricForDpi(metric, dpi);
    return static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_PRODUCT), IMAGE_ICON, size, size, 0));
}

RECT DesktopRect()
{
    RECT desktop = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    return desktop;
}

void PaintBackdrop(HWND window)
{
    RECT desktop = DesktopRect();
    int width = desktop.right;
    int height = desktop.bottom;

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    for (int band = 0; band < BackdropBandCount; ++band) {
        RECT rect = {0, BackdropBandTop(band, height), width, BackdropBandTop(band + 1, height)};
        HBRUSH brush = CreateSolidBrush(BackdropBandColour(band));
        FillRect(dc, &rect, brush);
        DeleteObject(brush);
    }

    HGDIOBJ kept = SelectObject(dc, BackdropFont);
    // GDI reads an ANSI text in the system's code page, not the process's:
    // the title goes to it in UTF-16.
    WCHAR title[BackdropTitleSize];
    int length = MultiByteToWideChar(CP_ACP, 0, BackdropTitle, -1, title, BackdropTitleSize) - 1;
    SIZE extent = {};
    // A failed or empty measurement leaves height 0: then no title is drawn.
    if (length < 0 || !GetTextExtentPoint32W(dc, title, length, &extent))
        extent.cy = 0;
    SetTextAlign(dc, TA_LEFT | TA_TOP | (RunIsRightToLeft() ? TA_RTLREADING : 0));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, TitleColour);
    if (extent.cy > 0) {
        int x = BackdropTitleLeft(width, extent.cx);
        for (int y = 0; y < height; y += extent.cy)
            TextOutW(dc, x, y, title, length);
    }
    SelectObject(dc, kept);
    EndPaint(window, &paint);
}

// Lays the backdrop out again for a DPI: the title's font, the window over
// the whole desktop, the icons, and a new paint.
void LayOutForDpi(HWND window, UINT dpi)
{
    HFONT replaced = BackdropFont;
    BackdropFont = CreateBackdropFont(TitleCodePage, dpi);
    if (replaced != BackdropFont && replaced != GetStockObject(ANSI_VAR_FONT))
        DeleteObject(replaced);

    RECT desktop = DesktopRect();
    SetWindowPos(window, nullptr, 0, 0, desktop.right, desktop.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    for (const auto& icon : ProductIcons) {
        LPARAM loaded = reinterpret_cast<LPARAM>(LoadProductIcon(instance, icon.metric, dpi));
        // The class's icons are never handed back: what comes back is the window's own earlier one.
        HICON earlier = reinterpret_cast<HICON>(SendMessageA(window, WM_SETICON, icon.kind, loaded));
        if (earlier)
            DestroyIcon(earlier);
    }
    InvalidateRect(window, nullptr, FALSE);
}

} // namespace

int BackdropBandTop(int band, int height)
{
    return int(int64_t(band) * height / BackdropBandCount);
}

COLORREF BackdropBandColour(int band)
{
    return RGB(2 * band, 2 * band, 127 + 2 * band);
}

int BackdropTitleLeft(int desktopWidth, int titleWidth)
{
    return desktopWidth / 2 - titleWidth / 2;
}

int BackdropTitleHeight(UINT dpi)
{
    return MulDiv(TitleDesignHeight, int(dpi), DesignDpi);
}

UINT WindowDpi(HWND window)
{
    auto forWindow = reinterpret_cast<GetDpiForWindowFn>(User32Function("GetDpiForWindow"));
    UINT dpi = window && forWindow ? forWindow(window) : 0;
    if (dpi)
        return dpi;
    HDC screen = GetDC(nullptr);
    dpi = UINT(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return dpi;
}

HFONT CreateBackdropFont(UINT codePage, UINT dpi)
{
    TitleCodePage = codePage;
    TitleDpi = dpi;
    // A font asked for the Western set draws another code page's bytes as Western letters.
    CHARSETINFO charset = {};
    BYTE set = ANSI_CHARSET;
    if (TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(codePage)), &charset, TCI_SRCCODEPAGE))
        set = BYTE(charset.ciCharset);
    HFONT font = CreateFontA(BackdropTitleHeight(dpi), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, set, OUT_STROKE_PRECIS,
        CLIP_STROKE_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH | FF_ROMAN, "Times New Roman");
    return font ? font : static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
}

bool RegisterBackdropClass(HINSTANCE instance)
{
    UINT dpi = WindowDpi(nullptr);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = BackdropWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadProductIcon(instance, SM_CXICON, dpi);
    windowClass.hIconSm = LoadProductIcon(instance, SM_CXSMICON, dpi);
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.lpszClassName = BackdropClassName;
    return RegisterClassExA(&windowClass) != 0;
}

HWND CreateBackdropWindow(HINSTANCE instance, const char* caption)
{
    RECT desktop = DesktopRect();
    // A language written from right to left mirrors the window: its caption's buttons, and the title's order.
    HWND window = CreateWindowExA(RunIsRightToLeft() ? WS_EX_LAYOUTRTL : 0, BackdropClassName, caption,
        WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, desktop.right, desktop.bottom, nullptr, nullptr, instance, nullptr);
    // The font was made before the window existed; on a monitor of another DPI the window takes its own.
    if (window && WindowDpi(window) != TitleDpi)
        LayOutForDpi(window, WindowDpi(window));
    return window;
}

LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        PaintBackdrop(window);
        return 0;
    case WM_DPICHANGED:
        // The new DPI, the same along both axes; the suggested rectangle is not
        // taken, since the backdrop covers the whole desktop.
        LayOutForDpi(window, HIWORD(wParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
