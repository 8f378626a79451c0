#include "language.h"
#include "code_page.h"
#include "product.h"
#include "text.h"
#include <stdlib.h>

namespace {

// Every program carries its English texts: English needs no translations.
const LanguageRecord English = {
    "en", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
const LanguageRecord* Spoken = &English;
// The run's language with its texts held in a code page other than UTF-8.
LanguageRecord Held;

// The product's texts in the language, where it gives them.
void TakeProductTexts(const LanguageRecord& language)
{
    if (language.startupPrompt)
        ProductConfig.startupPrompt = language.startupPrompt;
    if (language.servicePrompt)
        ProductConfig.servicePrompt = language.servicePrompt;
    if (language.agreement)
        AgreementText = language.agreement;
}

} // namespace

bool SpeakLanguage(const LanguageRecord* language)
{
    Spoken = &English;
    if (!language)
        return true;
    if (UsesUtf8()) {
        Spoken = language;
        TakeProductTexts(*language);
        return true;
    }
    // The translations and the product's name in it, held together.
    int count = language->count;
    const char** texts = static_cast<const char**>(malloc(sizeof(char*) * size_t(count + 1)));
    const char** held = static_cast<const char**>(malloc(sizeof(char*) * size_t(count + 1)));
    bool holds = texts && held;
    if (holds) {
        for (int i = 0; i < count; ++i)
            texts[i] = language->texts[i];
        texts[count] = language->displayName ? language->displayName : "";
        holds = HoldTexts(texts, count + 1, held);
    }
    free(texts);
    if (!holds) {
        free(held);
        return false;
    }
    Held = *language;
    Held.texts = held;
    Held.displayName = language->displayName ? held[count] : nullptr;
    Spoken = &Held;
    TakeProductTexts(*language);
    return true;
}

const LanguageRecord& RunLanguage()
{
    return *Spoken;
}

bool RunIsRightToLeft()
{
    return Spoken->rightToLeft != 0;
}

const char* Translate(EnglishText english)
{
    uint32_t key = TextKey(english.text);
    int low = 0;
    int high = Spoken->count;
    while (low < high) {
        int middle = (low + high) / 2;
        if (Spoken->keys[middle] < key)
            low = middle + 1;
        else
            high = middle;
    }
    return low < Spoken->count && Spoken->keys[low] == key ? Spoken->texts[low] : english.text;
}

const char* ShownProductName()
{
    return Spoken->displayName ? Spoken->displayName : ProductConfig.displayName;
}
