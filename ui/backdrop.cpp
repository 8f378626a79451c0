#include "ui.h"
#include "backdrop_layout.h"
#include "resource.h"

char BackdropTitle[BackdropTitleSize];
HFONT BackdropFont;

namespace {
const char BackdropClassName[] = "install";
const COLORREF TitleColour = RGB(255, 255, 255);

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
    SetTextAlign(dc, TA_LEFT | TA_TOP);
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

HFONT CreateBackdropFont(UINT codePage)
{
    // A font asked for the Western set draws another code page's bytes as Western letters.
    CHARSETINFO charset = {};
    BYTE set = ANSI_CHARSET;
    if (TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(codePage)), &charset, TCI_SRCCODEPAGE))
        set = BYTE(charset.ciCharset);
    HFONT font = CreateFontA(48, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, set, OUT_STROKE_PRECIS, CLIP_STROKE_PRECIS,
        DRAFT_QUALITY, VARIABLE_PITCH | FF_ROMAN, "Times New Roman");
    return font ? font : static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
}

bool RegisterBackdropClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BackdropWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PRODUCT));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.lpszClassName = BackdropClassName;
    return RegisterClassA(&windowClass) != 0;
}

HWND CreateBackdropWindow(HINSTANCE instance, const char* caption)
{
    RECT desktop = DesktopRect();
    return CreateWindowExA(0, BackdropClassName, caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, desktop.right,
        desktop.bottom, nullptr, nullptr, instance, nullptr);
}

LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PaintBackdrop(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
