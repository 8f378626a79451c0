// The backdrop's pixels and the agreement and progress dialogs' behaviour,
// on the test run's display (and again on a second display size).
#include "automation.h"
#include "backdrop_layout.h"
#include "product.h"
#include "resource.h"
#include "text.h"
#include "ui.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>

using namespace automation;

namespace {


RECT Desktop()
{
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    return desktop;
}

void ExpectCoversTheDesktop(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.right, Desktop().right);
    EXPECT_EQ(frame.bottom, Desktop().bottom);
}

// The DPI the run asked the prefix for (SETUP_DPI), 96 unless it asked.
UINT AskedDpi()
{
    char dpi[16];
    return GetEnvironmentVariableA("SETUP_DPI", dpi, sizeof dpi) ? UINT(std::atoi(dpi)) : 96;
}

LOGFONTA FontOf(HFONT font)
{
    LOGFONTA description = {};
    GetObjectA(font, sizeof description, &description);
    return description;
}

int IconWidth(HICON icon)
{
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

SIZE TitleExtent()
{
    HDC dc = GetDC(nullptr);
    HGDIOBJ kept = SelectObject(dc, BackdropFont);
    SIZE size = {};
    GetTextExtentPoint32A(dc, BackdropTitle, int(TextLength(BackdropTitle)), &size);
    SelectObject(dc, kept);
    ReleaseDC(nullptr, dc);
    return size;
}

class BackdropTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        FormatText(BackdropTitle, sizeof BackdropTitle, "Install %s", ProductConfig.displayName);
        BackdropFont = CreateBackdropFont(ProductCodePage, WindowDpi(nullptr));
        ASSERT_TRUE(RegisterBackdropClass(GetModuleHandleA(nullptr)));
    }
    void SetUp() override
    {
        window = CreateBackdropWindow(GetModuleHandleA(nullptr), "Install Pelmora");
        ASSERT_NE(window, nullptr);
        PumpMessages(300);
    }
    void TearDown() override { DestroyWindow(window); }

    // Every band boundary that falls inside the captured client area has the band's colour.
    void ExpectBands(const Bitmap& client)
    {
        int height = Desktop().bottom;
        int checked = 0;
        for (int band = 0; band < BackdropBandCount; ++band) {
            int top = BackdropBandTop(band, height);
            int bottom = BackdropBandTop(band + 1, height) - 1;
            for (int y : {top, bottom}) {
                if (y >= client.height)
                    continue;
                EXPECT_EQ(client.At(1, y), BackdropBandColour(band)) << "band " << band << " row " << y;
                ++checked;
            }
        }
        EXPECT_GT(checked, 20);
    }
    // How many rows of the first title line, as painted, hold white letters.
    int PaintedTitleRows()
    {
        InvalidateRect(window, nullptr, FALSE);
        PumpMessages(300);
        Bitmap client = CaptureClient(window);
        int rows = 0;
        for (int y = 0; y < TitleExtent().cy && y < client.height; ++y)
            for (int x = 0; x < client.width; ++x)
                if (client.At(x, y) == RGB(255, 255, 255)) {
                    ++rows;
                    break;
                }
        return rows;
    }
    HWND window = nullptr;
};

} // namespace

TEST(BackdropLayout, BandsFollowTheDesktopHeightWithoutGaps)
{
    EXPECT_EQ(BackdropBandColour(0), RGB(0, 0, 127));
    EXPECT_EQ(BackdropBandColour(63), RGB(126, 126, 253));
    for (int height : {768, 700, 600, 63, 1}) {
        EXPECT_EQ(BackdropBandTop(0, height), 0);
        EXPECT_EQ(BackdropBandTop(64, height), height);
        for (int band = 0; band < 64; ++band) {
            int size = BackdropBandTop(band + 1, height) - BackdropBandTop(band, height);
            EXPECT_GE(size, height / 64);
            EXPECT_LE(size, height / 64 + 1);
        }
    }
    EXPECT_EQ(BackdropBandTop(1, 700), 10);
    EXPECT_EQ(BackdropBandTop(7, 700), 76);
    EXPECT_EQ(BackdropTitleLeft(1024, 351), 512 - 175);
    EXPECT_EQ(BackdropTitleLeft(800, 1001), 400 - 500);
    // The title's height follows the DPI from 48 pixels at 96, rounded to the nearest pixel.
    const struct {
        UINT dpi;
        int height;
    } heights[] = {{96, 48}, {144, 72}, {192, 96}, {120, 60}, {97, 49}, {95, 48}, {72, 36}};
    for (const auto& h : heights)
        EXPECT_EQ(BackdropTitleHeight(h.dpi), h.height) << h.dpi;
}

TEST_F(BackdropTest, CoversTheDesktopWithTheGradient)
{
    ExpectCoversTheDesktop(window);
    EXPECT_EQ(WindowText(window), "Install Pelmora");
    EXPECT_EQ(ClassOf(window), "install");
    // Run again on a second display size: the desktop must be that size.
    char screen[32];
    if (GetEnvironmentVariableA("SETUP_SCREEN", screen, sizeof screen)) {
        std::string size = std::to_string(Desktop().right) + "x" + std::to_string(Desktop().bottom) + "x";
        EXPECT_EQ(std::string(screen).substr(0, size.size()), size);
    }
    ExpectBands(CaptureClient(window));
}

TEST_F(BackdropTest, TitleIsWhiteAndCentredInTheFirstLine)
{
    Bitmap client = CaptureClient(window);
    SIZE title = TitleExtent();
    ASSERT_GT(title.cy, 0);
    int width = Desktop().right;
    int left = width / 2 - title.cx / 2;
    int firstWhite = client.width, lastWhite = -1, whites = 0;
    for (int y = 0; y < title.cy && y < client.height; ++y)
        for (int x = 0; x < client.width; ++x)
            if (client.At(x, y) == RGB(255, 255, 255)) {
                firstWhite = std::min(firstWhite, x);
                lastWhite = std::max(lastWhite, x);
                ++whites;
            }
    EXPECT_GT(whites, 200);
    EXPECT_GE(firstWhite, left);
    EXPECT_LE(lastWhite, left + title.cx);
    EXPECT_LE(firstWhite - left, title.cx / 10) << "the title starts near its measured left edge";
}

// At the DPI of the run (96, or what SETUP_DPI asked), the title, its
// painted letters and the icons are those of that DPI; a window whose font was
// made for another DPI takes its own, and a change of DPI lays it all out again.
TEST_F(BackdropTest, TitleAndIconsFollowTheWindowsDpi)
{
    UINT dpi = WindowDpi(window);
    ASSERT_EQ(dpi, AskedDpi());
    EXPECT_EQ(WindowDpi(nullptr), dpi);
    EXPECT_EQ(FontOf(BackdropFont).lfHeight, BackdropTitleHeight(dpi));
    // The font mapper may round a scaled cell by a pixel.
    EXPECT_NEAR(TitleExtent().cy, BackdropTitleHeight(dpi), 1);
    EXPECT_GE(PaintedTitleRows(), BackdropTitleHeight(dpi) / 2) << "letters of the title's height";
    HICON classIcon = reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICON));
    HICON classSmallIcon = reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICONSM));
    EXPECT_EQ(IconWidth(classIcon), GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(IconWidth(classSmallIcon), GetSystemMetrics(SM_CXSMICON));

    // The icons of the product at 144 and 192 DPI: 48 and 24, 64 and 32 pixels.
    const struct {
        UINT dpi;
        int icon, smallIcon;
    } others[] = {{144, 48, 24}, {192, 64, 32}};
    for (const auto& other : others) {
        if (other.dpi == dpi)
            continue;
        SCOPED_TRACE(other.dpi);
        DestroyWindow(window);
        HFONT made = CreateBackdropFont(ProductCodePage, other.dpi);
        DeleteObject(BackdropFont);
        BackdropFont = made;
        window = CreateBackdropWindow(GetModuleHandleA(nullptr), "Install Pelmora");
        EXPECT_EQ(GetObjectType(made), 0u) << "the font for another DPI is deleted";
        EXPECT_EQ(FontOf(BackdropFont).lfHeight, BackdropTitleHeight(dpi));

        SetWindowPos(window, nullptr, 40, 30, 500, 400, SWP_NOZORDER);
        HFONT before = BackdropFont;
        BYTE charset = FontOf(before).lfCharSet;
        RECT suggested = {40, 30, 540, 430};
        SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(other.dpi, other.dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(GetObjectType(before), 0u) << "the replaced font is deleted";
        LOGFONTA font = FontOf(BackdropFont);
        EXPECT_EQ(font.lfHeight, BackdropTitleHeight(other.dpi));
        EXPECT_EQ(font.lfCharSet, charset);
        EXPECT_STREQ(font.lfFaceName, "Times New Roman");
        ExpectCoversTheDesktop(window);
        EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_BIG, 0))), other.icon);
        EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0))), other.smallIcon);
        EXPECT_GE(PaintedTitleRows(), BackdropTitleHeight(other.dpi) / 2);

        SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(FontOf(BackdropFont).lfHeight, BackdropTitleHeight(dpi));
    }
}

TEST_F(BackdropTest, ResizingKeepsTheLayoutOfTheDesktop)
{
    Bitmap before = CaptureClient(window);
    SetWindowPos(window, nullptr, 40, 30, 500, 400, SWP_NOZORDER);
    PumpMessages(300);
    Bitmap after = CaptureClient(window);
    ASSERT_LT(after.height, before.height);
    ExpectBands(after);
    for (int y = 0; y < after.height; y += 7)
        for (int x = 0; x < after.width; x += 5)
            ASSERT_EQ(after.At(x, y), before.At(x, y)) << x << "," << y;
}

TEST_F(BackdropTest, EmptyTitleStillPaintsTheGradient)
{
    char kept[BackdropTitleSize];
    CopyText(kept, sizeof kept, BackdropTitle);
    CopyText(BackdropTitle, sizeof BackdropTitle, "");
    InvalidateRect(window, nullptr, FALSE);
    PumpMessages(300);
    Bitmap client = CaptureClient(window);
    CopyText(BackdropTitle, sizeof BackdropTitle, kept);
    ExpectBands(client);
    for (int x = 0; x < client.width; ++x)
        ASSERT_NE(client.At(x, 5), RGB(255, 255, 255)) << x;
}

TEST(BackdropFont, TakesTheCharacterSetOfTheProductsCodePage)
{
    const struct {
        UINT codePage;
        BYTE charset;
    } cases[] = {{1252, ANSI_CHARSET}, {1251, RUSSIAN_CHARSET}, {1250, EASTEUROPE_CHARSET}, {1253, GREEK_CHARSET},
        {1254, TURKISH_CHARSET}, {1257, BALTIC_CHARSET}, {874, THAI_CHARSET}};
    for (const auto& c : cases) {
        HFONT font = CreateBackdropFont(c.codePage, 96);
        LOGFONTA created = {};
        ASSERT_EQ(GetObjectA(font, sizeof created, &created), int(sizeof created)) << c.codePage;
        EXPECT_EQ(created.lfCharSet, c.charset) << c.codePage;
        EXPECT_EQ(created.lfHeight, 48) << c.codePage;
        EXPECT_STREQ(created.lfFaceName, "Times New Roman") << c.codePage;
        DeleteObject(font);
    }
}

TEST(AgreementDialog, EnterAcceptsEscapeAndCloseBoxDecline)
{
    Action enter, escape, close;
    enter.kind = Action::Enter;
    escape.kind = Action::Escape;
    close.kind = Action::CloseBox;
    const struct {
        Action answer;
        INT_PTR result;
        const char* name;
    } cases[] = {{enter, 1, "Enter"}, {Press(IDOK), 1, "OK"}, {escape, 0, "Escape"}, {close, 0, "close box"},
        {Press(IDCANCEL), 0, "Cancel"}};
    for (const auto& c : cases) {
        Transcript transcript;
        Responder responder(transcript, {c.answer}, GetCurrentThreadId(), 0, {}, 5000);
        EXPECT_EQ(RunAgreementDialog(GetModuleHandleA(nullptr), nullptr), c.result);
        responder.Stop();
        EXPECT_EQ(transcript.Lines(), std::vector<std::string>{
                                          std::string("END USER LICENSE AGREEMENT | [I Accept,I Do NOT Accept] -> ")
                                          + c.name});
    }
}

TEST(AgreementDialog, ShowsTheProductTextReadOnlyWithAcceptFocused)
{
    Transcript transcript;
    std::string shown, afterTyping;
    bool readOnly = false, acceptFocused = false;
    std::thread inspector([&] {
        HWND dialog = WaitForDialog(GetCurrentProcessId(), 5000);
        if (!dialog)
            return;
        HWND edit = GetDlgItem(dialog, IDC_AGREEMENT_TEXT);
        shown = WindowText(edit);
        readOnly = (GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) != 0;
        GUITHREADINFO gui = {sizeof gui};
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
        acceptFocused = gui.hwndFocus == GetDlgItem(dialog, IDOK);
        SendMessageA(edit, WM_CHAR, 'x', 0);
        SendMessageA(edit, WM_KEYDOWN, VK_DELETE, 0);
        afterTyping = WindowText(edit);
        PressButton(dialog, IDOK);
    });
    EXPECT_EQ(RunAgreementDialog(GetModuleHandleA(nullptr), nullptr), 1);
    inspector.join();
    EXPECT_EQ(shown, AgreementText);
    EXPECT_EQ(afterTyping, AgreementText);
    EXPECT_TRUE(readOnly);
    EXPECT_TRUE(acceptFocused);
    // The shipped text: 3,281 bytes, lines separated by 61 carriage return and line feed pairs.
    std::string text = AgreementText;
    EXPECT_EQ(text.size(), 3281u);
    size_t breaks = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++breaks;
    EXPECT_EQ(breaks, 61u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 61);
}

TEST(ProgressDialog, ShowsPercentThenItemAndSurvivesItsCloseBox)
{
    HWND dialog = CreateProgressDialog(GetModuleHandleA(nullptr), nullptr, FitProgressDialog);
    ASSERT_NE(dialog, nullptr);
    PumpMessages(100);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_PERCENT), "Percent Complete:   0%");
    EXPECT_EQ(Describe(dialog),
        "Setup Progress | The application is now being installed. | Percent Complete:   0% | []");

    ShowProgress(dialog, "Shutting Down Running Copies", 0);
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_PERCENT), "Percent Complete: 0%");
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_ITEM), "Shutting Down Running Copies");
    ShowProgress(dialog, "help.htm", 33);
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_PERCENT), "Percent Complete: 33%");
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_ITEM), "help.htm");

    PressCloseBox(dialog);
    PumpMessages(200);
    EXPECT_TRUE(IsWindow(dialog)) << "closing hides the dialog but does not destroy it";
    ShowProgress(dialog, "", 100);
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_PERCENT), "Percent Complete: 100%");
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_ITEM), "");
    DestroyWindow(dialog);
}
