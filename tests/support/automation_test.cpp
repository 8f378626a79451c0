// The automation helpers, tried on the real Wine: they are what every other
// test trusts to read and answer screens.
#include "automation.h"
#include "resource.h"
#include <gtest/gtest.h>

using namespace automation;

namespace {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

LRESULT CALLBACK RedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return DefWindowProcA(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &client, red);
    DeleteObject(red);
    EndPaint(window, &paint);
    return 0;
}


} // namespace

TEST(Automation, AnswersMessageBoxesAndRecordsThem)
{
    struct Case {
        UINT style;
        Action answer;
        int expectedResult;
        const char* expectedLine;
    };
    Action escape;
    escape.kind = Action::Escape;
    Action enter;
    enter.kind = Action::Enter;
    const Case cases[] = {
        {MB_YESNO, Press(IDNO), IDNO, "Question | Keep going? | [Yes,No] -> No"},
        {MB_YESNO, Press(IDYES), IDYES, "Question | Keep going? | [Yes,No] -> Yes"},
        {MB_OKCANCEL, escape, IDCANCEL, "Question | Keep going? | [OK,Cancel] -> Escape"},
        {MB_OKCANCEL, enter, IDOK, "Question | Keep going? | [OK,Cancel] -> Enter"},
        {MB_OK | MB_ICONEXCLAMATION, Press(IDOK), IDOK, "Question | Keep going? | [OK] -> OK"},
    };
    for (const Case& c : cases) {
        Transcript transcript;
        Responder responder(transcript, {c.answer}, GetCurrentThreadId());
        int result = MessageBoxA(nullptr, "Keep going?", "Question", c.style);
        responder.Stop();
        EXPECT_EQ(result, c.expectedResult) << c.expectedLine;
        EXPECT_EQ(transcript.Lines(), std::vector<std::string>{c.expectedLine});
    }
}

TEST(Automation, ReportsAScreenThatNeverCame)
{
    Transcript transcript;
    Responder responder(transcript, {Press(IDOK)}, GetCurrentThreadId(), 0, {}, 300);
    Sleep(600);
    responder.Stop();
    EXPECT_EQ(transcript.Lines(), std::vector<std::string>{"(no screen came for answer 1: OK)"});
}

TEST(Automation, ReadsADialogsControlsInDialogUnits)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
        PlainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    std::vector<Control> controls = ReadControls(dialog);
    ASSERT_EQ(controls.size(), 3u);
    EXPECT_EQ(controls[1].className, "Static");
    EXPECT_EQ(controls[1].id, IDC_PROGRESS_PERCENT);
    EXPECT_EQ(controls[1].text, "Percent Complete:   0%");
    EXPECT_EQ(controls[1].units.left, 53);
    EXPECT_EQ(controls[1].units.top, 49);
    EXPECT_EQ(controls[1].units.right, 87);
    EXPECT_EQ(controls[1].units.bottom, 8);
    EXPECT_EQ(controls[0].id, -1);
    EXPECT_EQ(StaticTexts(dialog),
        (std::vector<std::string>{"The application is now being installed.", "Percent Complete:   0%"}));
    TypeText(dialog, IDC_PROGRESS_ITEM, "help.htm");
    EXPECT_EQ(FieldText(dialog, IDC_PROGRESS_ITEM), "help.htm");
    DestroyWindow(dialog);
}

TEST(Automation, CapturesTheScreenWithAKnownPixel)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RedWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "RedSquare";
    ASSERT_TRUE(RegisterClassA(&windowClass));
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "RedSquare", "red", WS_POPUP | WS_VISIBLE, 100, 120, 40, 30,
        nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    PumpMessages(300);

    Bitmap screen = CaptureScreen();
    ASSERT_EQ(screen.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(screen.At(100, 120), RGB(255, 0, 0));
    EXPECT_EQ(screen.At(139, 149), RGB(255, 0, 0));
    EXPECT_NE(screen.At(140, 150), RGB(255, 0, 0));

    Bitmap client = CaptureClient(window);
    ASSERT_EQ(client.width, 40);
    ASSERT_EQ(client.height, 30);
    EXPECT_EQ(client.At(0, 0), RGB(255, 0, 0));
    DestroyWindow(window);
}
