#include "language.h"
#include "text.h"

namespace {

char Folded(char c)
{
    return c == '-' ? '_' : c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

const LanguageRecord* Named(const LanguageRecord* languages, int count, const char* name)
{
    for (int i = 0; name && name[0] && i < count; ++i) {
        const char* a = name;
        const char* b = languages[i].name;
        while (*a && Folded(*a) == Folded(*b))
            ++a, ++b;
        if (!*a && !*b)
            return &languages[i];
    }
    return nullptr;
}

// Chinese is told apart by its script, which the region's language names.
LANGID ByScript(LANGID user)
{
    switch (user) {
    case MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_HONGKONG):
    case MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_MACAU):
    case MAKELANGID(LANG_CHINESE_TRADITIONAL, SUBLANG_NEUTRAL):
        return MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
    case MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE):
    case MAKELANGID(LANG_CHINESE_SIMPLIFIED, SUBLANG_NEUTRAL):
        return MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    default:
        return user;
    }
}

} // namespace

const LanguageRecord* ChooseLanguage(const LanguageRecord* languages, int count, const char* asked,
    const char* recorded, LANGID user, LanguageReason* reason)
{
    const LanguageRecord* chosen = Named(languages, count, asked);
    *reason = LanguageAsked;
    if (!chosen) {
        chosen = Named(languages, count, recorded);
        *reason = LanguageRecorded;
    }
    user = ByScript(user);
    for (int i = 0; !chosen && i < count; ++i)
        if (languages[i].windowsLanguage == user) {
            chosen = &languages[i];
            *reason = LanguageOfUser;
        }
    for (int i = 0; !chosen && i < count; ++i)
        if (PRIMARYLANGID(languages[i].windowsLanguage) == PRIMARYLANGID(user)) {
            chosen = &languages[i];
            *reason = LanguageOfUsersFamily;
        }
    if (!chosen) {
        chosen = count > 0 ? &languages[0] : nullptr;
        *reason = LanguageFirst;
    }
    return chosen;
}

const char* SpeakChosenLanguage(const char* asked, const char* recorded)
{
    const char* const reasons[] = {"asked for with /LANG=", "the one the setup used", "the user's interface language",
        "the nearest to the user's interface language", "the product's first"};
    LanguageReason reason;
    LANGID user = GetUserDefaultUILanguage();
    const LanguageRecord* chosen = ChooseLanguage(ProductLanguages, ProductLanguageCount, asked, recorded, user, &reason);
    const char* why =
        SpeakLanguage(chosen) ? reasons[reason] : "English: the chosen language's texts cannot be held in this code page";
    static char said[128];
    FormatText(said, sizeof said, "%s (the user's interface language is %d)", why, int(user)); // result deliberately ignored: it fits
    return said;
}
