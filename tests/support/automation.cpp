#include "automation.h"
#include <tlhelp32.h>
#include <algorithm>
#include <fstream>

namespace automation {

namespace {

constexpr DWORD MessageTimeoutMs = 2000;
constexpr DWORD PollMs = 20;
constexpr DWORD SettlePollMs = 150;
constexpr DWORD SettleTimeoutMs = 3000;
const char DialogClass[] = "#32770";

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::string WithoutAccelerators(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// Pixels to dialog units along one axis, given the pixels of 1000 units.
int ToUnits(int pixels, int pixelsPer1000)
{
    int guess = int((int64_t(pixels) * 1000 + pixelsPer1000 / 2) / pixelsPer1000);
    for (int candidate : {guess, guess - 1, guess + 1})
        if (MulDiv(candidate, pixelsPer1000, 1000) == pixels)
            return candidate;
    return guess;
}

// The id of the visible button whose text (without accelerator marks) is given; 0 if none.
int ButtonId(HWND dialog, const std::string& text)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (_stricmp(ClassOf(child).c_str(), "Button") == 0 && WithoutAccelerators(WindowText(child)) == text)
            return GetDlgCtrlID(child);
    return 0;
}

std::string ActionName(const Action& action)
{
    if (!action.buttonText.empty())
        return action.buttonText;
    switch (action.kind) {
    case Action::Escape:
        return "Escape";
    case Action::Enter:
        return "Enter";
    case Action::CloseBox:
        return "close box";
    default:
        break;
    }
    switch (action.id) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    case IDRETRY:
        return "Retry";
    default:
        return "button " + std::to_string(action.id);
    }
}

} // namespace

std::vector<HWND> WindowsOfThread(DWORD threadId)
{
    std::vector<HWND> windows;
    EnumThreadWindows(threadId, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> WindowsOfProcess(DWORD processId)
{
    std::vector<HWND> all, windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    for (HWND window : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId)
            windows.push_back(window);
    }
    return windows;
}

std::vector<HWND> WindowsOfProcessAndChildren(DWORD processId)
{
    std::vector<DWORD> family = {processId};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof entry};
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == processId)
            family.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    std::vector<HWND> windows;
    for (DWORD member : family)
        for (HWND window : WindowsOfProcess(member))
            windows.push_back(window);
    return windows;
}

std::string Utf8(const std::wstring& wide)
{
    std::string text(wide.size() * 3, '\0');
    text.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &text[0], int(text.size()),
        nullptr, nullptr)));
    return text;
}

std::wstring Utf16(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], int(wide.size()))));
    return wide;
}

std::string WindowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, MessageTimeoutMs, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
        MessageTimeoutMs, &copied);
    text.resize(std::min<size_t>(copied, length));
    return Utf8(text);
}

std::string Caption(HWND window)
{
    WCHAR text[512] = {};
    GetWindowTextW(window, text, 512);
    return Utf8(text);
}

std::string ClassOf(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool IsDialog(HWND window)
{
    return ClassOf(window) == DialogClass;
}

std::vector<Control> ReadControls(HWND dialog)
{
    RECT scale = {0, 0, 1000, 1000};
    MapDialogRect(dialog, &scale);
    std::vector<Control> controls;
    for (HWND child : Children(dialog)) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        Control control;
        control.window = child;
        control.className = ClassOf(child);
        control.id = short(GetDlgCtrlID(child));
        control.text = WindowText(child);
        control.style = DWORD(GetWindowLongA(child, GWL_STYLE));
        control.units = {ToUnits(rect.left, scale.right), ToUnits(rect.top, scale.bottom),
            ToUnits(rect.right - rect.left, scale.right), ToUnits(rect.bottom - rect.top, scale.bottom)};
        controls.push_back(control);
    }
    return controls;
}

std::vector<std::string> StaticTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child : Children(dialog)) {
        if (_stricmp(ClassOf(child).c_str(), "Static") != 0)
            continue;
        std::string text = WindowText(child);
        if (!text.empty())
            texts.push_back(text);
    }
    return texts;
}

std::vector<std::string> ButtonTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child : Children(dialog)) {
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if (_stricmp(ClassOf(child).c_str(), "Button") != 0 || (style & BS_TYPEMASK) == BS_GROUPBOX
            || !(style & WS_VISIBLE))
            continue;
        texts.push_back(WithoutAccelerators(WindowText(child)));
    }
    return texts;
}

std::string FieldText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

std::string Layout(HWND screen)
{
    std::string line = GetWindowLongA(screen, GWL_EXSTYLE) & WS_EX_LAYOUTRTL ? "mirrored" : "not mirrored";
    bool readsFromRight = false, atRight = false;
    std::string fromLeft;
    std::vector<std::pair<LONG, std::string>> buttons;
    for (HWND child : Children(screen)) {
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if (!(style & WS_VISIBLE))
            continue;
        if (GetWindowLongA(child, GWL_EXSTYLE) & WS_EX_RTLREADING)
            readsFromRight = true;
        else
            fromLeft += (fromLeft.empty() ? "" : ", ") + ClassOf(child) + " " + std::to_string(GetDlgCtrlID(child));
        if (_stricmp(ClassOf(child).c_str(), "Static") == 0 && !WindowText(child).empty()) {
            atRight = atRight || (style & SS_TYPEMASK) == SS_RIGHT;
        } else if (_stricmp(ClassOf(child).c_str(), "Button") == 0 && (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON) {
            RECT place;
            GetWindowRect(child, &place);
            buttons.push_back({place.left, WithoutAccelerators(WindowText(child))});
        }
    }
    if (readsFromRight)
        line += ", texts read from the right" + (fromLeft.empty() ? "" : " but in " + fromLeft);
    line += atRight ? ", texts at the right" : "";
    std::sort(buttons.begin(), buttons.end());
    line += " | [";
    for (size_t i = 0; i < buttons.size(); ++i)
        line += (i ? "," : "") + buttons[i].second;
    return line + "]";
}

void PressButton(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void TypeText(HWND dialog, int id, const std::string& text)
{
    DWORD_PTR result;
    std::wstring wide = Utf16(text);
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
        SMTO_ABORTIFHUNG, MessageTimeoutMs, &result);
}

void PressKey(HWND dialog, UINT key)
{
    PostMessageA(dialog, WM_KEYDOWN, key, 0);
    PostMessageA(dialog, WM_KEYUP, key, 0);
}

void PressCloseBox(HWND window)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void PumpMessages(DWORD ms)
{
    DWORD start = GetTickCount();
    MSG message;
    do {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(PollMs);
    } while (GetTickCount() - start < ms);
}

HWND WaitForWindow(const std::function<HWND()>& find, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = find())
            return window;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(PollMs);
    }
}

HWND WaitForDialog(DWORD processId, DWORD timeoutMs)
{
    return WaitForWindow(
        [processId]() -> HWND {
            for (HWND window : WindowsOfProcess(processId))
                if (IsDialog(window) && IsWindowVisible(window))
                    return window;
            return nullptr;
        },
        timeoutMs);
}

Bitmap CaptureFrom(HDC source, int x, int y, int width, int height)
{
    Bitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(source);
    HBITMAP section = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section || !bits) {
        DeleteDC(memory);
        return {};
    }
    HGDIOBJ old = SelectObject(memory, section);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    const DWORD* pixels = static_cast<const DWORD*>(bits);
    bitmap.pixels.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < bitmap.pixels.size(); ++i)
        bitmap.pixels[i] = RGB((pixels[i] >> 16) & 0xFF, (pixels[i] >> 8) & 0xFF, pixels[i] & 0xFF);
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
    return bitmap;
}

Bitmap CaptureScreen()
{
    HDC screen = GetDC(nullptr);
    Bitmap bitmap = CaptureFrom(screen, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    ReleaseDC(nullptr, screen);
    return bitmap;
}

namespace {

// True when a visible window above the screen overlaps it: the shell opens a
// group's folder window on its own time, and it may come up over the screen.
bool IsCovered(HWND screen)
{
    RECT area;
    if (!GetWindowRect(screen, &area))
        return false;
    for (HWND above = GetWindow(screen, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV)) {
        RECT other;
        RECT overlap;
        if (IsWindowVisible(above) && GetWindowRect(above, &other) && IntersectRect(&overlap, &area, &other))
            return true;
    }
    return false;
}

} // namespace

Bitmap CaptureSettledScreen(HWND screen)
{
    // Painting is asked of the windows' own thread, which paints when its loop is
    // idle; a sent message returns only once that loop has run, and Wine puts
    // what was painted on the display a little later still.
    HWND owner = GetWindow(screen, GW_OWNER);
    DWORD_PTR ignored;
    // Another program's window may come up over the screen at any moment; a user
    // answering it brings it to the front, and so does this, until the picture
    // shows the screen uncovered and stays the same for a moment.
    Bitmap last;
    for (DWORD waited = 0; waited < SettleTimeoutMs; waited += SettlePollMs) {
        if (waited == 0 || IsCovered(screen)) {
            SetWindowPos(screen, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            for (HWND window : {owner, screen})
                if (window)
                    RedrawWindow(window, nullptr, nullptr,
                        RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
            SendMessageTimeoutA(screen, WM_NULL, 0, 0, SMTO_NORMAL, MessageTimeoutMs, &ignored);
            last = Bitmap();
        }
        Sleep(SettlePollMs);
        Bitmap next = CaptureScreen();
        if (!last.pixels.empty() && next.pixels == last.pixels && !IsCovered(screen))
            return next;
        last = next;
    }
    return last;
}

Bitmap CaptureClient(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    HDC screen = GetDC(nullptr);
    Bitmap bitmap = CaptureFrom(screen, origin.x, origin.y, client.right, client.bottom);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

bool SaveBitmap(const Bitmap& bitmap, const char* path)
{
    std::ofstream out(path, std::ios::binary);
    int rowBytes = (bitmap.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + DWORD(rowBytes * bitmap.height);
    info.biSize = sizeof info;
    info.biWidth = bitmap.width;
    info.biHeight = bitmap.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    std::vector<char> row(size_t(rowBytes), 0);
    for (int y = bitmap.height - 1; y >= 0; --y) {
        for (int x = 0; x < bitmap.width; ++x) {
            COLORREF c = bitmap.At(x, y);
            row[size_t(x) * 3] = char(GetBValue(c));
            row[size_t(x) * 3 + 1] = char(GetGValue(c));
            row[size_t(x) * 3 + 2] = char(GetRValue(c));
        }
        out.write(row.data(), rowBytes);
    }
    return bool(out);
}

Bitmap LoadBitmapFile(const char* path)
{
    HBITMAP loaded =
        static_cast<HBITMAP>(LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (!loaded)
        return {};
    BITMAP info = {};
    GetObjectA(loaded, sizeof info, &info);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, loaded);
    Bitmap bitmap = CaptureFrom(memory, 0, 0, info.bmWidth, info.bmHeight);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(loaded);
    return bitmap;
}

WatchedWindow::WatchedWindow(const std::string& title)
{
    thread_ = std::thread([this, title] {
        window_ = CreateWindowExA(0, "STATIC", title.c_str(), WS_POPUP | WS_VISIBLE, 0, 0, 60, 20, nullptr, nullptr,
            nullptr, nullptr);
        MSG message;
        BOOL got;
        while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0)
            DispatchMessageA(&message);
        toldToQuit_ = got == 0 && !closing_;
        DestroyWindow(window_);
    });
    while (!window_)
        Sleep(PollMs);
}

WatchedWindow::~WatchedWindow()
{
    Close();
}

bool WatchedWindow::Close()
{
    if (!closed_) {
        closed_ = true;
        closing_ = true;
        PostMessageA(window_, WM_QUIT, 0, 0);
        thread_.join();
    }
    return toldToQuit_;
}

void Transcript::Add(const std::string& line)
{
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
}

std::vector<std::string> Transcript::Lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void Transcript::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

std::string Describe(HWND dialog)
{
    std::string line = WindowText(dialog) + " |";
    for (const std::string& text : StaticTexts(dialog))
        line += " " + text + " |";
    bool hasFields = false;
    for (HWND child : Children(dialog))
        if (_stricmp(ClassOf(child).c_str(), "Edit") == 0 && (GetWindowLongA(child, GWL_STYLE) & ES_MULTILINE) == 0) {
            line += " {" + WindowText(child) + "}";
            hasFields = true;
        }
    line += hasFields ? " | [" : " [";
    std::vector<std::string> buttons = ButtonTexts(dialog);
    for (size_t i = 0; i < buttons.size(); ++i)
        line += (i ? "," : "") + buttons[i];
    return line + "]";
}

Action Press(int id, const std::string& caption)
{
    Action action;
    action.id = id;
    action.expectCaption = caption;
    return action;
}

Action Type(int field, const std::string& text, int thenPress, const std::string& caption)
{
    Action action = Press(thenPress, caption);
    action.fields.push_back({field, text});
    return action;
}

Responder::Responder(Transcript& transcript, std::vector<Action> actions, DWORD threadId, DWORD processId,
    std::vector<std::string> ignore, DWORD stepTimeoutMs, bool childrenToo)
    : transcript_(transcript), actions_(std::move(actions)), threadId_(threadId), processId_(processId),
      ignore_(std::move(ignore)), stepTimeoutMs_(stepTimeoutMs), childrenToo_(childrenToo), thread_([this] { Run(); })
{
}

Responder::~Responder()
{
    Stop();
}

void Responder::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool Responder::Done() const
{
    return done_;
}

bool Responder::GaveUp() const
{
    return gaveUp_;
}

HWND Responder::NextScreen()
{
    std::vector<HWND> windows = !processId_ ? WindowsOfThread(threadId_)
        : childrenToo_                      ? WindowsOfProcessAndChildren(processId_)
                                            : WindowsOfProcess(processId_);
    for (HWND window : windows) {
        if (!IsWindowVisible(window) || !IsWindowEnabled(window) || !IsDialog(window))
            continue;
        if (std::find(ignore_.begin(), ignore_.end(), Caption(window)) == ignore_.end())
            return window;
    }
    return nullptr;
}

void Responder::WaitForChange(HWND screen)
{
    HWND owner = GetWindow(screen, GW_OWNER);
    WaitForWindow([&]() -> HWND {
        return (stop_ || !IsWindow(screen) || !IsWindowVisible(screen) || !IsWindowEnabled(screen)) ? screen : nullptr;
    },
        stepTimeoutMs_);
    // The answer's consequences run on the owner's thread (a dialog ends after its
    // message box): wait until that thread is back in a message loop, so a screen
    // about to close is never taken for the next one.
    DWORD_PTR ignored;
    if (owner && !stop_)
        SendMessageTimeoutA(owner, WM_NULL, 0, 0, SMTO_NORMAL, stepTimeoutMs_, &ignored);
}

// A screen the test did not expect is recorded and closed, so a test never hangs on it.
void Responder::CloseUnexpected(HWND screen, const std::string& why)
{
    transcript_.Add(Describe(screen) + " -> closed (" + why + ")");
    PressCloseBox(screen);
    WaitForChange(screen);
}

void Responder::Run()
{
    size_t step = 0;
    for (; step < actions_.size() && !stop_; ++step) {
        const Action& action = actions_[step];
        HWND screen = WaitForWindow([this]() -> HWND { return stop_ ? HWND(1) : NextScreen(); }, stepTimeoutMs_);
        if (stop_)
            break;
        if (!screen) {
            transcript_.Add("(no screen came for answer " + std::to_string(step + 1) + ": " + ActionName(action) + ")");
            gaveUp_ = true;
            break;
        }
        if (!action.expectCaption.empty() && Caption(screen) != action.expectCaption) {
            CloseUnexpected(screen, "wanted " + action.expectCaption);
            gaveUp_ = true;
            break;
        }
        Action answer = action;
        // A message box is found by its caption before it has made its buttons: they are awaited.
        for (int wait = 0; wait < 40; ++wait, Sleep(50)) {
            if (!answer.buttonText.empty())
                answer.id = ButtonId(screen, answer.buttonText);
            if (answer.kind != Action::Button || GetDlgItem(screen, answer.id))
                break;
        }
        if (answer.kind == Action::Button && !GetDlgItem(screen, answer.id)) {
            CloseUnexpected(screen, "it has no button for " + ActionName(action));
            gaveUp_ = true;
            break;
        }
        if (!answer.screenshot.empty()) {
            RECT area = {};
            GetClientRect(screen, &area);
            MapWindowPoints(screen, nullptr, reinterpret_cast<POINT*>(&area), 2);
            transcript_.Add(SaveBitmap(CaptureSettledScreen(screen), answer.screenshot.c_str())
                    ? "shot " + answer.screenshot + " | " + std::to_string(area.left) + " " + std::to_string(area.top)
                        + " " + std::to_string(area.right) + " " + std::to_string(area.bottom)
                    : "(the screen could not be saved to " + answer.screenshot + ")");
        }
        for (const auto& field : answer.fields)
            TypeText(screen, field.first, field.second);
        for (int field : answer.readFields)
            transcript_.Add("field " + std::to_string(field) + " | " + FieldText(screen, field));
        if (answer.readOwner)
            transcript_.Add("owner | " + Caption(GetWindow(screen, GW_OWNER)));
        if (answer.readLayout)
            transcript_.Add("layout | " + Layout(screen));
        transcript_.Add(Describe(screen) + " -> " + ActionName(answer));
        switch (answer.kind) {
        case Action::Escape:
            PressKey(screen, VK_ESCAPE);
            break;
        case Action::Enter:
            PressKey(screen, VK_RETURN);
            break;
        case Action::CloseBox:
            PressCloseBox(screen);
            break;
        default:
            PressButton(screen, answer.id);
            break;
        }
        WaitForChange(screen);
    }
    done_ = true;
    while (!stop_) {
        if (HWND screen = NextScreen())
            CloseUnexpected(screen, "no answer left");
        Sleep(PollMs);
    }
}

bool StartProcess(std::string commandLine, PROCESS_INFORMATION* process, const char* application)
{
    STARTUPINFOA startup = {sizeof startup};
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateProcessA(application, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process))
            return true;
        if (GetLastError() != ERROR_INTERNAL_ERROR)
            return false;
    }
    return false;
}

} // namespace automation
