// The languages a product may speak: the kit's table of them, and their
// translations of the programs' English texts, which msgfmt compiled from
// locale/NAME.po after the build checked them against the template.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct LanguageInfo {
    const char* name;          // as locale/NAME.po, the manifest and /LANG= name it
    uint16_t windowsLanguage;  // its LANGID
    bool rightToLeft;
};
// The language of that name in the kit's table; null when there is none.
const LanguageInfo* FindLanguage(const std::string& name);
// Every name of the table, for messages.
std::string LanguageNames();

// One language's translations: English text, and its translation.
using Translations = std::map<std::string, std::string>;

// Reads the translations of every locale/NAME.po in sourceDir, compiled as
// NAME.mo in compiledDir, and checks what msgfmt does not: a language the
// table knows, the same placeholders in the same order (%s, %d, %%: the only
// ones the programs format), the same line breaks at the start and the end,
// English translated by itself, and no two English texts with one key.
// False, with one message per problem, naming the file and the text.
bool ReadTranslations(const std::string& sourceDir, const std::string& compiledDir,
    std::map<std::string, Translations>& languages, std::vector<std::string>& errors);
