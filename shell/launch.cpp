// The launch after the final question: the product started as the user.
#include "commands.h"
#include "globals.h"
#include "run.h"
#include "shell.h"
#include "text.h"
#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>

namespace {

// The service of a window's top-level browser (SID_STopLevelBrowser). The
// identifiers are the headers' (__uuidof) or this one: libuuid's object would
// bring all of its own.
const GUID TopLevelBrowser = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

// Releases a COM interface that may be null.
template <typename Interface> void Release(Interface* object)
{
    if (object)
        object->Release();
}

VARIANT TextVariant(const WCHAR* text)
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BSTR;
    variant.bstrVal = SysAllocString(text);
    return variant;
}

// Starts the program through the desktop shell of the signed-in user, which
// runs with that user's rights, not the setup's: the shell's own
// ShellExecute, reached from its desktop window's folder view. False when
// there is no such shell (or it would not), and nothing was started.
bool StartThroughDesktopShell(const char* program, const char* folder)
{
    WCHAR wideProgram[PathBufferSize];
    WCHAR wideFolder[PathBufferSize];
    if (!MultiByteToWideChar(CP_ACP, 0, program, -1, wideProgram, PathBufferSize)
        || !MultiByteToWideChar(CP_ACP, 0, folder, -1, wideFolder, PathBufferSize))
        return false;
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellWindows* windows = nullptr;
    IDispatch* desktop = nullptr;
    IServiceProvider* services = nullptr;
    IShellBrowser* browser = nullptr;
    IShellView* view = nullptr;
    IDispatch* background = nullptr;
    IShellFolderViewDual* folderView = nullptr;
    IDispatch* application = nullptr;
    IShellDispatch2* shell = nullptr;
    VARIANT none;
    VariantInit(&none);
    long window = 0;
    bool reached = SUCCEEDED(CoCreateInstance(__uuidof(ShellWindows), nullptr, CLSCTX_ALL, __uuidof(IShellWindows),
                       reinterpret_cast<void**>(&windows)))
        && windows->FindWindowSW(&none, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK && desktop
        && SUCCEEDED(desktop->QueryInterface(__uuidof(IServiceProvider), reinterpret_cast<void**>(&services)))
        && SUCCEEDED(services->QueryService(TopLevelBrowser, __uuidof(IShellBrowser), reinterpret_cast<void**>(&browser)))
        && SUCCEEDED(browser->QueryActiveShellView(&view)) && view
        && SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), reinterpret_cast<void**>(&background)))
        && SUCCEEDED(background->QueryInterface(__uuidof(IShellFolderViewDual), reinterpret_cast<void**>(&folderView)))
        && SUCCEEDED(folderView->get_Application(&application)) && application
        && SUCCEEDED(application->QueryInterface(__uuidof(IShellDispatch2), reinterpret_cast<void**>(&shell)));
    bool started = false;
    if (reached) {
        BSTR file = SysAllocString(wideProgram);
        VARIANT arguments = TextVariant(L"");
        VARIANT directory = TextVariant(wideFolder);
        VARIANT operation = TextVariant(L"open");
        VARIANT show;
        VariantInit(&show);
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        // S_FALSE is the shell's answer when the program did not start.
        started = file && shell->ShellExecute(file, arguments, directory, operation, show) == S_OK;
        SysFreeString(file);
        VariantClear(&arguments);
        VariantClear(&directory);
        VariantClear(&operation);
    }
    Release(shell);
    Release(application);
    Release(folderView);
    Release(background);
    Release(view);
    Release(browser);
    Release(services);
    Release(desktop);
    Release(windows);
    if (SUCCEEDED(com))
        CoUninitialize();
    return started;
}

} // namespace

void LaunchApplication(HWND backdrop, HFONT backdropFont)
{
    DestroyWindow(backdrop);
    DeleteObject(backdropFont);
    // The user answered for the product, not for administrator rights: it
    // runs as the user where the desktop shell can start it.
    if (StartThroughDesktopShell(ApplicationPath, InstallFolder)) {
        LogLine("Started as the signed-in user, through the desktop shell: %s", ApplicationPath);
        return;
    }
    // Quoted, so that C:\Program.exe can never stand in for C:\Program Files\...
    char commandLine[PathBufferSize];
    if (FormatQuoted(commandLine, sizeof commandLine, ApplicationPath)) {
        WinExec(commandLine, SW_SHOW); // whether it starts is not examined
        LogLine("Started directly, with the setup's rights (no desktop shell started it): %s", commandLine);
    }
}
