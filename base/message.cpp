#include "message.h"

void ShowWarning(HWND owner, const char* caption, const char* text)
{
    MessageBoxA(owner, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

void ShowInformation(HWND owner, const char* caption, const char* text)
{
    MessageBoxA(owner, text, caption, MB_OK | MB_ICONINFORMATION);
}

bool AskYesNo(HWND owner, const char* caption, const char* text)
{
    return MessageBoxA(owner, text, caption, MB_YESNO) == IDYES;
}
