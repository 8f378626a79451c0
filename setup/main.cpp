#include <windows.h>
#include "dialogs.h"
#include "globals.h"
#include "payload.h"
#include "product_data.h"
#include "run.h"
#include "sequence.h"

namespace {

bool WantsMachine(const RunSwitches& switches)
{
    return RequestedMode(switches) == ForMachineRequested;
}

// Each prebuilt setup carries the decoder of one kind of payload, and the code
// of every language or of English alone (setup/CMakeLists.txt).
#if SETUP_EVERY_LANGUAGE
const LanguageCode EveryLanguage = {SpeakChosenLanguage, nullptr, TranslateDialogTexts, MirroredTemplate};
const LanguageCode* const Spoken = &EveryLanguage;
#else
const LanguageCode* const Spoken = nullptr;
#endif

bool ReadProduct()
{
#if SETUP_SOLID_PAYLOAD
    return ReadSetupSection(GetModuleHandleA(nullptr), BlockUnpacker, true, Spoken);
#else
    return ReadSetupSection(GetModuleHandleA(nullptr), SliceInflater, false, Spoken);
#endif
}

const RunProgram SetupProgram = {N_("Setup"), true,
    N_("/S\tinstalls without any window; whoever starts it accepts the licence agreement for the users of this "
       "computer\r\n/D=folder\tthe installation folder; the last switch, the rest of the line is the folder\r\n"
       "/CURRENTUSER\tinstalls for you alone, where the product may be installed so\r\n/ALLUSERS\tinstalls for "
       "everyone on this computer (with administrator rights), where the product may be installed so\r\n"),
    N_("0\tinstalled\r\n1602\tthe agreement was declined, no folder was chosen, or administrator rights were "
       "refused\r\n1603\tthe installation failed\r\n"),
    N_("3010\tinstalled; a file in use is replaced, or one of the earlier version goes, when Windows restarts"),
    HoldPayloadNames, WantsMachine, ReadProduct, DamagedFormat};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    RunSwitches switches;
    int exitCode;
    if (!BeginRun(SetupProgram, switches, &exitCode))
        return exitCode;
    return EndRun(SetupSequence(instance, switches));
}
