#include "message.h"
#include "product.h"
#include "run.h"
#include "text.h"
#include <stdarg.h>

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

int ShowMessage(HWND owner, UINT style, int unattendedAnswer, EnglishText caption, const char* english,
    const char* shown)
{
    char englishCaption[MessageBufferSize];
    char shownCaption[MessageBufferSize];
    FormatText(englishCaption, sizeof englishCaption, caption.text, ShownProductName());
    if (!FormatText(shownCaption, sizeof shownCaption, Translate(caption), ShownProductName()))
        CopyText(shownCaption, sizeof shownCaption, englishCaption);
    if (RunIsRightToLeft())
        style |= MB_RTLREADING | MB_RIGHT;
    int answer = Unattended ? unattendedAnswer : MessageBoxA(owner, shown, shownCaption, style);
    const char* parts[] = {"Message: ", englishCaption, " | ", english,
        Unattended ? " | not shown, taken as " : " | answered ", AnswerName(answer)};
    LogParts(parts, 6);
    return answer;
}

// The text in English and in the run's language, the same arguments set into
// both; a translation that cannot take them gives way to the English.
int ShowFormatted(HWND owner, UINT style, int unattendedAnswer, EnglishText caption, EnglishText format, va_list args)
{
    char english[MessageBufferSize];
    char shown[MessageBufferSize];
    va_list again;
    va_copy(again, args);
    FormatTextV(english, sizeof english, format.text, args);
    if (!FormatTextV(shown, sizeof shown, Translate(format), again))
        CopyText(shown, sizeof shown, english);
    va_end(again);
    return ShowMessage(owner, style, unattendedAnswer, caption, english, shown);
}

} // namespace

void ShowWarning(HWND owner, EnglishText caption, EnglishText format, ...)
{
    va_list args;
    va_start(args, format);
    ShowFormatted(owner, MB_OK | MB_ICONEXCLAMATION, IDOK, caption, format, args);
    va_end(args);
}

void ShowInformation(HWND owner, EnglishText caption, EnglishText format, ...)
{
    va_list args;
    va_start(args, format);
    ShowFormatted(owner, MB_OK | MB_ICONINFORMATION, IDOK, caption, format, args);
    va_end(args);
}

void ShowNotice(HWND owner, EnglishText caption, EnglishText format, ...)
{
    va_list args;
    va_start(args, format);
    ShowFormatted(owner, MB_OK, IDOK, caption, format, args);
    va_end(args);
}

bool AskYesNo(HWND owner, bool unattendedAnswer, EnglishText caption, EnglishText format, ...)
{
    va_list args;
    va_start(args, format);
    int answer = ShowFormatted(owner, MB_YESNO, unattendedAnswer ? IDYES : IDNO, caption, format, args);
    va_end(args);
    return answer == IDYES;
}

void ShowComposed(HWND owner, bool warning, EnglishText caption, const char* english, const char* shown)
{
    ShowMessage(owner, warning ? MB_OK | MB_ICONEXCLAMATION : MB_OK | MB_ICONINFORMATION, IDOK, caption, english,
        shown);
}

bool AskRetry(HWND owner, EnglishText caption, EnglishText format, ...)
{
    va_list args;
    va_start(args, format);
    int answer = ShowFormatted(owner, MB_RETRYCANCEL | MB_ICONEXCLAMATION, IDCANCEL, caption, format, args);
    va_end(args);
    return answer == IDRETRY;
}
