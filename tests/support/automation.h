// UI automation for the tests: find a program's windows, read them as a user
// sees them, answer them as a user would, and capture pixels.
#pragma once
#include <windows.h>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace automation {

std::vector<HWND> WindowsOfThread(DWORD threadId);
std::vector<HWND> WindowsOfProcess(DWORD processId);
// The same, and those of the processes it started.
std::vector<HWND> WindowsOfProcessAndChildren(DWORD processId);
// Texts are read and typed in UTF-16, as the windows hold them, and given as
// UTF-8 whatever the test program's code page.
std::string Utf8(const std::wstring& wide);
std::wstring Utf16(const std::string& text);
// A window's text as its own thread answers it (needed for edit fields).
std::string WindowText(HWND window);
// A top-level window's caption, read without a message, so a busy owner cannot delay it.
std::string Caption(HWND window);
std::string ClassOf(HWND window);
bool IsDialog(HWND window);

struct Control {
    HWND window;
    std::string className;
    int id;
    std::string text;
    DWORD style;
    RECT units; // left, top, width (right), height (bottom) in dialog units
};
std::vector<Control> ReadControls(HWND dialog);
// Static texts with words in them, in window order.
std::vector<std::string> StaticTexts(HWND dialog);
std::vector<std::string> ButtonTexts(HWND dialog);
std::string FieldText(HWND dialog, int id);
// How a screen is laid out, as a line: "mirrored" (WS_EX_LAYOUTRTL) or "not
// mirrored", ", texts read from the right" when a control has
// WS_EX_RTLREADING, with " but in Edit 1203, ..." naming each visible control
// without it, ", texts at the right" when a static text is SS_RIGHT, then its
// buttons from the screen's left to its right: " | [No,Yes]".
std::string Layout(HWND screen);

// Acting as a user: asynchronous, so a handler that opens a box does not block us.
void PressButton(HWND dialog, int id);
void TypeText(HWND dialog, int id, const std::string& text); // text in UTF-8
void PressKey(HWND dialog, UINT key);
void PressCloseBox(HWND window);

// The first visible dialog of a process, once there is one; null after the time.
HWND WaitForDialog(DWORD processId, DWORD timeoutMs);
// CreateProcessA with no handles inherited and the default start-up. A start
// that Wine reports as its internal error (the new process died while its
// loader set it up, as happens now and then under heavy load) is tried once
// more: a program that cannot start fails both times.
bool StartProcess(std::string commandLine, PROCESS_INFORMATION* process, const char* application = nullptr);

// Dispatches this thread's messages for a while, so its windows paint.
void PumpMessages(DWORD ms);

// Polls until the predicate returns a window or the time runs out (null then).
HWND WaitForWindow(const std::function<HWND()>& find, DWORD timeoutMs);

struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};
Bitmap CaptureScreen();
// The screen once a dialog, brought to the front and uncovered, and the windows
// behind it have painted completely: their paint is asked for and waited on,
// then the screen is captured until two captures agree.
Bitmap CaptureSettledScreen(HWND screen);
// The client area of a window, as it is on the screen.
Bitmap CaptureClient(HWND window);
bool SaveBitmap(const Bitmap& bitmap, const char* path);
// A .bmp file read back; an empty bitmap when it cannot be read.
Bitmap LoadBitmapFile(const char* path);

// A top-level window of this process, on a thread of its own, that notes
// whether something told it to quit (WM_QUIT) before it is closed.
class WatchedWindow {
public:
    explicit WatchedWindow(const std::string& title);
    ~WatchedWindow();
    // Closes the window; true when it had been told to quit.
    bool Close();

private:
    std::thread thread_;
    HWND volatile window_ = nullptr;
    volatile bool toldToQuit_ = false;
    volatile bool closing_ = false;
    bool closed_ = false;
};

// An ordered record of what a run showed and what was answered.
class Transcript {
public:
    void Add(const std::string& line);
    std::vector<std::string> Lines() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// "caption | text | [buttons]" for a dialog or message box; a dialog's
// single-line fields come before the buttons as "{text} {text} |".
std::string Describe(HWND dialog);

// What to do with the next screen.
struct Action {
    enum Kind { Button, Escape, Enter, CloseBox } kind = Button;
    int id = IDOK;
    std::vector<std::pair<int, std::string>> fields; // typed before the answer
    std::string expectCaption;                          // empty: any
    std::string buttonText;                             // press the button with this text instead of id
    std::string screenshot;                             // a .bmp of the screen, taken before answering
    std::vector<int> readFields;                        // fields whose texts go to the transcript first
    bool readOwner = false;                             // the caption of the window that owns the screen too
    bool readLayout = false;                            // its Layout too
};
Action Press(int id, const std::string& caption = "");
Action Type(int field, const std::string& text, int thenPress, const std::string& caption = "");

// On a thread of its own, answers the dialogs and message boxes that the
// watched thread or process opens (with childrenToo, also the processes it
// starts: a setup that starts itself again), in order, recording each in the
// transcript.
// Screens whose caption is in `ignore` are left alone (a modeless progress dialog).
// Screens beyond the answers, or that the next answer does not fit, are recorded
// and closed, so that a test never hangs on them.
class Responder {
public:
    Responder(Transcript& transcript, std::vector<Action> actions, DWORD threadId, DWORD processId = 0,
        std::vector<std::string> ignore = {}, DWORD stepTimeoutMs = 20000, bool childrenToo = false);
    ~Responder();
    void Stop();
    bool Done() const;
    // True when a screen did not come in time or was not the one expected.
    bool GaveUp() const;

private:
    void Run();
    void WaitForChange(HWND screen);
    void CloseUnexpected(HWND screen, const std::string& why);
    HWND NextScreen();
    Transcript& transcript_;
    std::vector<Action> actions_;
    DWORD threadId_;
    DWORD processId_;
    std::vector<std::string> ignore_;
    DWORD stepTimeoutMs_;
    bool childrenToo_;
    volatile bool stop_ = false;
    volatile bool done_ = false;
    volatile bool gaveUp_ = false;
    std::thread thread_;
};

} // namespace automation
