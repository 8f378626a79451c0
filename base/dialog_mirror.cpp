#include "dialogs.h"
#include <stdlib.h>
#include <string.h>

const DLGTEMPLATE* MirroredTemplate(HINSTANCE instance, int id, void** copy)
{
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)); // RT_DIALOG
    const WORD* data = found ? static_cast<const WORD*>(LockResource(LoadResource(instance, found))) : nullptr;
    DWORD size = data ? SizeofResource(instance, found) : 0;
    // An extended template: its version, 0xFFFF, its help id, then its extended style.
    *copy = size > 12 && data[1] == 0xFFFF ? malloc(size) : nullptr;
    if (!*copy)
        return nullptr;
    memcpy(*copy, data, size);
    DWORD* extendedStyle = reinterpret_cast<DWORD*>(static_cast<BYTE*>(*copy) + 8);
    *extendedStyle |= WS_EX_LAYOUTRTL;
    return static_cast<const DLGTEMPLATE*>(*copy);
}
