#include "message.h"
#include "run.h"

namespace {

const char* AnswerName(int answer)
{
    switch (answer) {
    case IDOK:
        return "OK";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    case IDRETRY:
        return "Retry";
    case IDCANCEL:
        return "Cancel";
    default:
        return "closed";
    }
}

int ShowMessage(HWND owner, const char* caption, const char* text, UINT style, int unattendedAnswer)
{
    int answer = Unattended ? unattendedAnswer : MessageBoxA(owner, text, caption, style);
    const char* parts[] = {"Message: ", caption, " | ", text, Unattended ? " | not shown, taken as " : " | answered ",
        AnswerName(answer)};
    LogParts(parts, 6);
    return answer;
}

} // namespace

void ShowWarning(HWND owner, const char* caption, const char* text)
{
    ShowMessage(owner, caption, text, MB_OK | MB_ICONEXCLAMATION, IDOK);
}

void ShowInformation(HWND owner, const char* caption, const char* text)
{
    ShowMessage(owner, caption, text, MB_OK | MB_ICONINFORMATION, IDOK);
}

void ShowNotice(HWND owner, const char* caption, const char* text)
{
    ShowMessage(owner, caption, text, MB_OK, IDOK);
}

bool AskYesNo(HWND owner, const char* caption, const char* text, bool unattendedAnswer)
{
    return ShowMessage(owner, caption, text, MB_YESNO, unattendedAnswer ? IDYES : IDNO) == IDYES;
}

bool AskRetry(HWND owner, const char* caption, const char* text)
{
    return ShowMessage(owner, caption, text, MB_RETRYCANCEL | MB_ICONEXCLAMATION, IDCANCEL) == IDRETRY;
}
