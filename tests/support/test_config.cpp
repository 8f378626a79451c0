#include "test_config.h"
#include "dialogs.h"
#include "language.h"

ProductConfigRecord ProductConfig = ShippedConfig();
const char* AgreementText = "Agreement";
ProductDetailsRecord ProductDetails = {"", "", 0, 0};
uint32_t ProductCodePage = 1252;
// English only, as the shipped product.
const LanguageRecord English[] = {{"en", 0x0409, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}};
const LanguageRecord* ProductLanguages = English;
int32_t ProductLanguageCount = 1;
// Dialogs translated, and mirrored for the languages written from right to left, that tests speak.
LanguageCode ProductLanguageCode = {nullptr, nullptr, TranslateDialogTexts, MirroredTemplate};

ProductConfigRecord ShippedConfig()
{
    return {"Pelmora", "Pelmora", "pelmora.ini", 1,
        "This application is much more useful if it can receive images for you at all times. In order to do this, "
        "it must  be installed in your startup folder. Do you want Pelmora  to be installed in your startup folder?",
        "pelmora.exe", "-icon", 0, 1, 0, "", "", 0};
}
