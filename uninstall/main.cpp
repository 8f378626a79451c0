#include <windows.h>
#include "dialogs.h"
#include "globals.h"
#include "product_data.h"
#include "run.h"
#include "uninstall.h"

namespace {

// Each prebuilt uninstaller carries the code of every language or of English alone (uninstall/CMakeLists.txt).
#if SETUP_EVERY_LANGUAGE
const LanguageCode EveryLanguage = {SpeakChosenLanguage, ReadRecordedLanguage, TranslateDialogTexts, MirroredTemplate};
const LanguageCode* const Spoken = &EveryLanguage;
#else
const LanguageCode* const Spoken = nullptr;
#endif

bool ReadProduct()
{
    return ReadUninstallerSection(GetModuleHandleA(nullptr), Spoken);
}

const RunProgram UninstallerProgram = {N_("Uninstaller"), false, N_("/S\tremoves the product without any window\r\n"),
    N_("0\tremoved\r\n1602\tthe question was answered No\r\n1603\tnot removed completely\r\n1605\tno "
       "installation of this product in this folder\r\n"),
    N_("3010\tremoved; a file goes when Windows restarts"), HoldUninstallNames, UninstallWantsMachine, ReadProduct,
    N_("The uninstaller is damaged, and nothing was removed. Install the product again to remove it.\r\n\r\n%s")};

int RunUninstaller(HINSTANCE instance)
{
    RestrictDllSearch();
    RunSwitches switches;
    int exitCode;
    if (!BeginRun(UninstallerProgram, switches, &exitCode))
        return exitCode;
    return EndRun(UninstallSequence(instance));
}

} // namespace

// The program starts here rather than in the C runtime's start-up, whose parsed arguments, standard
// streams, constructors, thread-local storage and unwinding tables it does not use: they took a sixth
// of this program, which ships at a fixed size. The stack is aligned as the compiled code assumes.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup()
{
    ExitProcess(UINT(RunUninstaller(GetModuleHandleA(nullptr))));
}
