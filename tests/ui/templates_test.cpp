// The dialog templates, read from the program's resources byte for byte
// and again as live dialogs: caption, font, frame, and every control's id,
// class, text, style and place in dialog units, in tab order.
#include "automation.h"
#include "resource.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace automation;

namespace {

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
    DWORD style;
};

struct ExpectedDialog {
    int resource;
    const char* caption;
    int x, y, width, height;
    DWORD style;
    std::vector<ExpectedControl> controls;
};

const DWORD Child = WS_CHILD | WS_VISIBLE;
const DWORD DialogFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

const ExpectedDialog Dialogs[] = {
    {IDD_PROGRESS, "Setup Progress", 50, 25, 186, 73, DialogFrame,
        {{-1, "Static", "The application is now being installed.", 30, 14, 123, 12, Child | SS_LEFT | WS_GROUP},
            {IDC_PROGRESS_PERCENT, "Static", "Percent Complete:   0%", 53, 49, 87, 8, Child | SS_LEFT | WS_GROUP},
            {IDC_PROGRESS_ITEM, "Static", "", 30, 32, 123, 8, Child | SS_CENTER | WS_GROUP}}},
    {IDD_AGREEMENT, "END USER LICENSE AGREEMENT", 50, 25, 304, 159, DialogFrame,
        {{IDOK, "Button", "I Accept", 7, 138, 66, 14, Child | BS_DEFPUSHBUTTON | WS_TABSTOP},
            {IDCANCEL, "Button", "I Do NOT Accept", 233, 138, 64, 14, Child | BS_PUSHBUTTON | WS_TABSTOP},
            {IDC_AGREEMENT_TEXT, "Edit", "", 7, 7, 290, 128,
                Child | ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_TABSTOP}}},
    {IDD_CHOOSE_FOLDER, "Choose a Folder", 50, 25, 282, 156, DialogFrame | WS_VISIBLE,
        {{IDOK, "Button", "OK", 7, 135, 50, 14, Child | BS_DEFPUSHBUTTON | WS_TABSTOP},
            {IDCANCEL, "Button", "Cancel", 225, 135, 50, 14, Child | BS_PUSHBUTTON | WS_TABSTOP},
            {-1, "Static",
                "This application requires a folder in which to store its data files. The location below is "
                "recommended and should work fine for most users.",
                7, 7, 268, 21, Child | SS_LEFT | WS_GROUP},
            {IDC_CHOOSE_FOLDER_PARENT, "Edit", "", 65, 61, 112, 14,
                Child | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
            {IDC_CHOOSE_FOLDER_BROWSE, "Button", "Browse...", 214, 61, 50, 14, Child | BS_PUSHBUTTON | WS_TABSTOP},
            {-1, "Static", "Parent Folder", 11, 63, 48, 10, Child | SS_LEFT | WS_GROUP},
            {-1, "Static", "Application Folder", 12, 107, 57, 8, Child | SS_LEFT | WS_GROUP},
            {IDC_CHOOSE_FOLDER_NAME, "Edit", "", 78, 104, 112, 14,
                Child | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
            {-1, "Button", "Parent Folder", 7, 27, 268, 54, Child | BS_GROUPBOX},
            {-1, "Static",
                "This must be an existing folder. A new folder for this application will be created within this "
                "folder, with the name you specify below under \"Application Folder.\"",
                13, 38, 250, 19, Child | SS_LEFT | WS_GROUP},
            {-1, "Button", "Application Folder", 7, 89, 268, 38, Child | BS_GROUPBOX}}},
    {IDD_INSTALL_FOR, "Install for Whom?", 50, 25, 232, 102, DialogFrame,
        {{-1, "Static",
             "The application can be installed for you alone, in your own folders, or for everyone who uses this "
             "computer. Installing it for everyone needs administrator rights.",
             7, 7, 218, 28, Child | SS_LEFT | WS_GROUP},
            {IDC_INSTALL_FOR_USER, "Button", "Install for me only", 7, 40, 218, 16, Child | BS_PUSHBUTTON | WS_TABSTOP},
            {IDC_INSTALL_FOR_MACHINE, "Button", "Install for everyone on this computer", 7, 60, 218, 16,
                Child | BS_PUSHBUTTON | WS_TABSTOP},
            {IDCANCEL, "Button", "Cancel", 175, 81, 50, 14, Child | BS_PUSHBUTTON | WS_TABSTOP}}},
};

// Reads a DIALOG (not DIALOGEX) template.
class TemplateReader {
public:
    explicit TemplateReader(const void* data) : p_(static_cast<const BYTE*>(data)) {}
    DWORD Dword() { DWORD v; memcpy(&v, p_, 4); p_ += 4; return v; }
    WORD Word() { WORD v; memcpy(&v, p_, 2); p_ += 2; return v; }
    short Short() { return short(Word()); }
    // A string or an ordinal (0xFFFF then the number, given as "#n").
    std::string NameOrOrdinal()
    {
        WORD first = Word();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c; c = Word())
            text += char(c);
        return text;
    }
    void AlignDword()
    {
        while (reinterpret_cast<uintptr_t>(p_) % 4)
            ++p_;
    }

private:
    const BYTE* p_;
};

std::string TemplateClass(const std::string& raw)
{
    if (raw == "#128" || raw == "BUTTON")
        return "Button";
    if (raw == "#129" || raw == "EDIT")
        return "Edit";
    if (raw == "#130" || raw == "STATIC")
        return "Static";
    return raw;
}

// How a control's text overflows the room the control draws it in, in the
// control's own font and laid out as the control lays it out ("" when it
// fits): a static text wrapped to its width, a button's line inside its frame,
// a group box's label between an average character's indent and the far frame.
std::string Overflow(HWND control)
{
    std::wstring text = Utf16(WindowText(control));
    if (text.empty())
        return "";
    RECT room;
    GetClientRect(control, &room);
    HDC dc = GetDC(control);
    HGDIOBJ kept = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    UINT format = DT_CALCRECT;
    if (ClassOf(control) == "Static") {
        format |= DT_WORDBREAK | DT_EXPANDTABS;
    } else if ((GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) {
        format |= DT_SINGLELINE;
        InflateRect(&room, -metrics.tmAveCharWidth, 0);
    } else {
        format |= DT_SINGLELINE;
        InflateRect(&room, -2 * GetSystemMetrics(SM_CXEDGE), -GetSystemMetrics(SM_CYEDGE));
    }
    int width = room.right - room.left, height = room.bottom - room.top;
    RECT needed = {0, 0, width, 0};
    DrawTextW(dc, text.c_str(), int(text.size()), &needed, format);
    SelectObject(dc, kept);
    ReleaseDC(control, dc);
    if (needed.right <= width && needed.bottom <= height)
        return "";
    return "needs " + std::to_string(needed.right) + "x" + std::to_string(needed.bottom) + ", has "
        + std::to_string(width) + "x" + std::to_string(height);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

} // namespace

TEST(DialogTemplates, ResourcesHoldExactlyTheExpectedTemplates)
{
    for (const ExpectedDialog& dialog : Dialogs) {
        SCOPED_TRACE(dialog.caption);
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(dialog.resource), MAKEINTRESOURCEA(5));
        ASSERT_NE(found, nullptr);
        TemplateReader reader(LockResource(LoadResource(nullptr, found)));
        EXPECT_EQ(reader.Dword(), dialog.style);
        EXPECT_EQ(reader.Dword(), 0u) << "extended style";
        WORD count = reader.Word();
        EXPECT_EQ(count, dialog.controls.size());
        EXPECT_EQ(reader.Short(), dialog.x);
        EXPECT_EQ(reader.Short(), dialog.y);
        EXPECT_EQ(reader.Short(), dialog.width);
        EXPECT_EQ(reader.Short(), dialog.height);
        EXPECT_EQ(reader.NameOrOrdinal(), "") << "menu";
        EXPECT_EQ(reader.NameOrOrdinal(), "") << "class";
        EXPECT_EQ(reader.NameOrOrdinal(), dialog.caption);
        EXPECT_EQ(reader.Word(), 8) << "point size";
        EXPECT_EQ(reader.NameOrOrdinal(), "MS Sans Serif");
        for (size_t i = 0; i < count && i < dialog.controls.size(); ++i) {
            const ExpectedControl& control = dialog.controls[i];
            SCOPED_TRACE(control.text);
            reader.AlignDword();
            EXPECT_EQ(reader.Dword(), control.style);
            EXPECT_EQ(reader.Dword(), 0u);
            EXPECT_EQ(reader.Short(), control.x);
            EXPECT_EQ(reader.Short(), control.y);
            EXPECT_EQ(reader.Short(), control.width);
            EXPECT_EQ(reader.Short(), control.height);
            EXPECT_EQ(short(reader.Word()), control.id);
            EXPECT_EQ(TemplateClass(reader.NameOrOrdinal()), control.className);
            EXPECT_EQ(reader.NameOrOrdinal(), control.text);
            EXPECT_EQ(reader.Word(), 0) << "creation data";
        }
    }
}

TEST(DialogTemplates, LiveDialogsShowEveryControlInTabOrder)
{
    for (const ExpectedDialog& dialog : Dialogs) {
        SCOPED_TRACE(dialog.caption);
        HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialog.resource), nullptr,
            PlainDialogProc, 0);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(WindowText(window), dialog.caption);
        std::vector<Control> controls = ReadControls(window);
        ASSERT_EQ(controls.size(), dialog.controls.size());
        for (size_t i = 0; i < controls.size(); ++i) {
            const ExpectedControl& expected = dialog.controls[i];
            SCOPED_TRACE(expected.text);
            EXPECT_EQ(controls[i].id, expected.id);
            EXPECT_EQ(controls[i].className, expected.className);
            EXPECT_EQ(controls[i].text, expected.text);
            // A live edit control trades its WS_BORDER for a client edge; the template test sees the bit.
            DWORD styleBits = 0xFFFF | WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | WS_GROUP;
            EXPECT_EQ(controls[i].style & styleBits, expected.style & styleBits);
            EXPECT_EQ(controls[i].units.left, expected.x);
            EXPECT_EQ(controls[i].units.top, expected.y);
            EXPECT_EQ(controls[i].units.right, expected.width);
            EXPECT_EQ(controls[i].units.bottom, expected.height);
            EXPECT_EQ(Overflow(controls[i].window), "") << "clipped";
        }
        // Tab order: the tab stops follow one another in template order.
        std::vector<int> stops;
        for (const ExpectedControl& control : dialog.controls)
            if (control.style & WS_TABSTOP)
                stops.push_back(control.id);
        if (!stops.empty()) {
            HWND first = GetDlgItem(window, stops[0]);
            HWND next = first;
            for (size_t k = 1; k <= stops.size(); ++k) {
                next = GetNextDlgTabItem(window, next, FALSE);
                EXPECT_EQ(GetDlgCtrlID(next), stops[k % stops.size()]);
            }
        }
        DestroyWindow(window);
    }
}
