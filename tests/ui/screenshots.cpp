// Takes the README's two screenshots with the real screens: the backdrop with
// the agreement, and the backdrop with the progress dialog part-way.
//   screenshots.exe AGREEMENT.bmp PROGRESS.bmp      (see tools/screenshots)
#include "automation.h"
#include "product.h"
#include "resource.h"
#include "text.h"
#include "ui.h"
#include <atomic>
#include <thread>

using namespace automation;

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    FormatText(BackdropTitle, sizeof BackdropTitle, "Install %s", ProductConfig.displayName);
    BackdropFont = CreateBackdropFont(ProductCodePage, WindowDpi(nullptr));
    if (!RegisterBackdropClass(instance))
        return 1;
    HWND backdrop = CreateBackdropWindow(instance, BackdropTitle);
    PumpMessages(300);

    bool saved = false;
    std::thread photographer([&] {
        HWND dialog = WaitForDialog(GetCurrentProcessId(), 10000);
        saved = dialog && SaveBitmap(CaptureSettledScreen(dialog), argv[1]);
        if (dialog)
            PressButton(dialog, IDOK);
    });
    RunAgreementDialog(instance, backdrop);
    photographer.join();

    HWND progress = CreateProgressDialog(instance, backdrop, FitProgressDialog);
    ShowProgress(progress, "help.htm", 33);
    // The progress dialog has no loop of its own: this thread pumps while another one photographs.
    Bitmap shot;
    std::atomic<bool> taken{false};
    std::thread progressPhotographer([&] {
        shot = CaptureSettledScreen(progress);
        taken = true;
    });
    while (!taken)
        PumpMessages(20);
    progressPhotographer.join();
    saved = SaveBitmap(shot, argv[2]) && saved;
    DestroyWindow(progress);
    DestroyWindow(backdrop);
    return saved ? 0 : 1;
}
