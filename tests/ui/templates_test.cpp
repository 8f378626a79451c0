// The dialog templates, read from the program's resources byte for byte
// and again as live dialogs: caption, font, frame, and every control's id,
// class, text, style and place in dialog units, in tab order; and every
// dialog of both programs in every language, its texts fitting their
// controls and no control over another.
#include "automation.h"
#include "dialogs.h"
#include "globals.h"
#include "language.h"
#include "resource.h"
#include "text.h"
#include "ui.h"
#include "choose_folder.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
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
const DWORD DialogFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT;

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

// Reads a DIALOGEX template.
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

// As the programs' dialogs start: in the run's language, fitted to their texts.
INT_PTR CALLBACK FittedDialogProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        TranslateDialog(dialog);
        FitDialog(dialog);
    }
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
        EXPECT_EQ(reader.Word(), 1) << "extended template";
        EXPECT_EQ(reader.Word(), 0xFFFF);
        EXPECT_EQ(reader.Dword(), 0u) << "help id";
        EXPECT_EQ(reader.Dword(), 0u) << "extended style";
        EXPECT_EQ(reader.Dword(), dialog.style);
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
        reader.Word();  // weight
        reader.Word();  // italic and character set
        EXPECT_EQ(reader.NameOrOrdinal(), "MS Shell Dlg 2");
        for (size_t i = 0; i < count && i < dialog.controls.size(); ++i) {
            const ExpectedControl& control = dialog.controls[i];
            SCOPED_TRACE(control.text);
            reader.AlignDword();
            EXPECT_EQ(reader.Dword(), 0u) << "help id";
            EXPECT_EQ(reader.Dword(), 0u) << "extended style";
            EXPECT_EQ(reader.Dword(), control.style);
            EXPECT_EQ(reader.Short(), control.x);
            EXPECT_EQ(reader.Short(), control.y);
            EXPECT_EQ(reader.Short(), control.width);
            EXPECT_EQ(reader.Short(), control.height);
            EXPECT_EQ(short(reader.Dword()), control.id);
            EXPECT_EQ(TemplateClass(reader.NameOrOrdinal()), control.className);
            EXPECT_EQ(reader.NameOrOrdinal(), control.text);
            EXPECT_EQ(reader.Word(), 0) << "creation data";
        }
    }
}

// Live, fitted to their English texts in the shell's font at the run's DPI:
// every control as the template has it, at least as large, and none clipped.
TEST(DialogTemplates, LiveDialogsShowEveryControlInTabOrder)
{
    for (const ExpectedDialog& dialog : Dialogs) {
        SCOPED_TRACE(dialog.caption);
        HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialog.resource), nullptr,
            FittedDialogProc, 0);
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
            EXPECT_GE(controls[i].units.left, expected.x);
            EXPECT_GE(controls[i].units.top, expected.y);
            EXPECT_GE(controls[i].units.right, expected.width);
            EXPECT_GE(controls[i].units.bottom, expected.height);
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

// Every language the kit translates into (generated from locale/*.po).
extern const LanguageRecord AllLanguages[];
extern const int32_t AllLanguageCount;

namespace {

// Where a control draws: a static text's lines, laid out as it lays them out
// (left, or centred when its style says so); any other control's rectangle.
RECT DrawnPlace(HWND dialog, HWND control)
{
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    std::wstring text = Utf16(WindowText(control));
    if (ClassOf(control) != "Static" || text.empty())
        return place;
    HDC dc = GetDC(control);
    HGDIOBJ kept = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT needed = {0, 0, place.right - place.left, 0};
    DrawTextW(dc, text.c_str(), int(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, kept);
    ReleaseDC(control, dc);
    LONG width = needed.right;
    if ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_CENTER)
        place.left += (place.right - place.left - width) / 2;
    place.right = place.left + width;
    place.bottom = place.top + needed.bottom;
    return place;
}

std::string Span(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " to " + std::to_string(r.right) + ","
        + std::to_string(r.bottom);
}

bool IsGroupBox(HWND control)
{
    return ClassOf(control) == "Button" && (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// What is wrong with a dialog as it stands: a text its control clips, a
// control over another (a group box may hold whole controls, and only its
// label's line counts as its own), a control outside the dialog, the dialog
// beyond the screen, a mirrored dialog that is not or a plain one that is, a
// control whose text reads the other way.
std::vector<std::string> Faults(HWND dialog, bool mirrored)
{
    std::vector<std::string> faults;
    RECT client;
    GetClientRect(dialog, &client);
    std::vector<HWND> controls;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT))
        controls.push_back(control);
    for (size_t i = 0; i < controls.size(); ++i) {
        std::string name = ClassOf(controls[i]) + " \"" + WindowText(controls[i]) + "\"";
        std::string overflow = Overflow(controls[i]);
        if (!overflow.empty())
            faults.push_back(name + " clipped: " + overflow);
        // Texts read from the right in a mirrored dialog, each control's, but for a field of one line, which
        // holds a path.
        bool oneLine = ClassOf(controls[i]) == "Edit" && !(GetWindowLongW(controls[i], GWL_STYLE) & ES_MULTILINE);
        bool fromRight = (GetWindowLongW(controls[i], GWL_EXSTYLE) & WS_EX_RTLREADING) != 0;
        if (fromRight != (mirrored && !oneLine))
            faults.push_back(name + (fromRight ? " reads from the right" : " reads from the left"));
        RECT place = DrawnPlace(dialog, controls[i]);
        RECT inside;
        if (!IntersectRect(&inside, &place, &client) || !EqualRect(&inside, &place))
            faults.push_back(name + " lies outside the dialog");
        for (size_t j = i + 1; j < controls.size(); ++j) {
            RECT other = DrawnPlace(dialog, controls[j]);
            RECT overlap;
            bool boxHolds = (IsGroupBox(controls[i]) && IntersectRect(&overlap, &place, &other)
                                && EqualRect(&overlap, &other))
                || (IsGroupBox(controls[j]) && IntersectRect(&overlap, &place, &other) && EqualRect(&overlap, &place));
            if (boxHolds) {
                // Only the box's label line is its own.
                const RECT& box = IsGroupBox(controls[i]) ? place : other;
                const RECT& held = IsGroupBox(controls[i]) ? other : place;
                RECT label = {box.left, box.top, box.right, box.top + 16};
                if (IntersectRect(&overlap, &label, &held) && held.top < label.bottom - 2)
                    faults.push_back(name + " and " + WindowText(controls[j]) + ": over the group box's label");
            } else if (IntersectRect(&overlap, &place, &other)) {
                faults.push_back(name + " overlaps " + ClassOf(controls[j]) + " \"" + WindowText(controls[j]) + "\"");
            }
        }
    }
    RECT frame, screen;
    GetWindowRect(dialog, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    RECT onScreen;
    if (!IntersectRect(&onScreen, &frame, &screen) || !EqualRect(&onScreen, &frame))
        faults.push_back("the dialog (" + Span(frame) + ") reaches beyond the screen (" + Span(screen) + ")");
    if (((GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0) != mirrored)
        faults.push_back(mirrored ? "not mirrored" : "mirrored");
    return faults;
}

// A modal dialog's faults, taken while another thread runs it; then it is cancelled.
std::vector<std::string> ModalFaults(const std::function<void()>& run, bool mirrored)
{
    std::vector<std::string> faults = {"the dialog did not open"};
    std::thread inspector([&] {
        HWND dialog = WaitForDialog(GetCurrentProcessId(), 10000);
        if (!dialog)
            return;
        PumpMessages(0);
        faults = Faults(dialog, mirrored);
        PressButton(dialog, IDCANCEL);
    });
    run();
    inspector.join();
    return faults;
}

// The items a program's progress dialog shows besides the files' names: the
// uninstaller checks no payload of its own.
const std::vector<EnglishText> SetupItems = {ShuttingDownProgressText, CheckingProgressText};
const std::vector<EnglishText> UninstallerItems = {ShuttingDownProgressText};

// A progress dialog's faults with the longest texts it shows.
std::vector<std::string> ProgressFaults(HINSTANCE instance, void (*fit)(HWND), bool mirrored,
    const std::vector<EnglishText>& items)
{
    HWND dialog = CreateProgressDialog(instance, nullptr, fit);
    if (!dialog)
        return {"the dialog did not open"};
    std::vector<std::string> faults = Faults(dialog, mirrored);
    for (EnglishText item : items) {
        ShowProgress(dialog, Translate(item), 100);
        for (const std::string& fault : Faults(dialog, mirrored))
            faults.push_back(std::string("at 100 %, ") + item.text + ": " + fault);
    }
    DestroyWindow(dialog);
    return faults;
}

} // namespace

// Every dialog of both programs in every language, at the run's DPI (96, and
// 144 and 192 in templates_test_144 and _192): nothing clipped, nothing over another control,
// and the dialogs of a language written from right to left mirrored.
TEST(DialogsInEveryLanguage, FitTheirTextsWithoutOverlapping)
{
    HINSTANCE setup = GetModuleHandleA(nullptr);
    // The uninstaller's own template, read from the program.
    HMODULE uninstaller = LoadLibraryExA(UNINSTALLER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(uninstaller, nullptr);
    ASSERT_GE(AllLanguageCount, 25);
    for (int i = 0; i < AllLanguageCount; ++i) {
        const LanguageRecord& language = AllLanguages[i];
        SCOPED_TRACE(language.name);
        ASSERT_TRUE(SpeakLanguage(&language));
        bool mirrored = language.rightToLeft != 0;
        const struct {
            const char* name;
            std::vector<std::string> faults;
        } dialogs[] = {
            {"setup's progress", ProgressFaults(setup, FitProgressDialog, mirrored, SetupItems)},
            {"uninstaller's progress", ProgressFaults(uninstaller, nullptr, mirrored, UninstallerItems)},
            {"agreement", ModalFaults([&] { RunAgreementDialog(setup, nullptr); }, mirrored)},
            {"folder", ModalFaults(
                           [&] {
                               CopyText(InstallFolder, sizeof InstallFolder, "C:\\Program Files (x86)\\Pelmora");
                               ChooseFolderDialog(setup, nullptr);
                           },
                           mirrored)},
            {"for whom", ModalFaults([&] { RunInstallForDialog(setup, nullptr, false, true); }, mirrored)},
        };
        for (const auto& dialog : dialogs)
            EXPECT_EQ(dialog.faults, std::vector<std::string>{}) << dialog.name;
    }
    SpeakLanguage(nullptr);
    FreeLibrary(uninstaller);
}

// The check above finds a translation made too long on purpose: clipped in the
// uninstaller's dialog, which nothing makes larger, and in the setup's folder
// dialog a button so wide that the dialog grows beyond the screen.
TEST(DialogsInEveryLanguage, ATranslationMadeTooLongIsFound)
{
    std::string removing;
    for (int i = 0; i < 6; ++i)
        removing += "The application is now being removed. ";
    const std::string browse(400, 'W');
    const char* english[] = {"The application is now being removed.", "Browse..."};
    const char* translated[] = {removing.c_str(), browse.c_str()};
    uint32_t keys[2];
    const char* texts[2];
    int first = TextKey(english[0]) < TextKey(english[1]) ? 0 : 1;
    for (int i = 0; i < 2; ++i) {
        keys[i] = TextKey(english[(first + i) % 2]);
        texts[i] = translated[(first + i) % 2];
    }
    const LanguageRecord tooLong = {"en", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0, 2, keys, texts, nullptr,
        nullptr, nullptr, nullptr};
    ASSERT_TRUE(SpeakLanguage(&tooLong));
    HMODULE uninstaller = LoadLibraryExA(UNINSTALLER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::vector<std::string> progress = ProgressFaults(uninstaller, nullptr, false, UninstallerItems);
    ASSERT_FALSE(progress.empty());
    EXPECT_NE(progress[0].find("Static \"" + removing + "\" clipped"), std::string::npos) << progress[0];
    std::vector<std::string> folder = ModalFaults(
        [&] {
            CopyText(InstallFolder, sizeof InstallFolder, "C:\\Program Files (x86)\\Pelmora");
            ChooseFolderDialog(GetModuleHandleA(nullptr), nullptr);
        },
        false);
    EXPECT_NE(std::find_if(folder.begin(), folder.end(),
                  [](const std::string& fault) { return fault.find("reaches beyond the screen") != std::string::npos; }),
        folder.end());
    SpeakLanguage(nullptr);
    FreeLibrary(uninstaller);
}
