#include "languages.h"
#include "text.h"
#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <set>

namespace {

// The languages the kit translates into, with their Windows language ids.
const LanguageInfo Languages[] = {
    {"en", 0x0409, false}, {"ar", 0x0401, true}, {"cs", 0x0405, false}, {"da", 0x0406, false},
    {"de", 0x0407, false}, {"el", 0x0408, false}, {"es", 0x0C0A, false}, {"fi", 0x040B, false},
    {"fr", 0x040C, false}, {"he", 0x040D, true}, {"hu", 0x040E, false}, {"it", 0x0410, false},
    {"ja", 0x0411, false}, {"ko", 0x0412, false}, {"nb", 0x0414, false}, {"nl", 0x0413, false},
    {"pl", 0x0415, false}, {"pt_BR", 0x0416, false}, {"pt_PT", 0x0816, false}, {"ru", 0x0419, false},
    {"sv", 0x041D, false}, {"tr", 0x041F, false}, {"uk", 0x0422, false}, {"zh_CN", 0x0804, false},
    {"zh_TW", 0x0404, false}};
const uint32_t MoMagic = 0x950412de;
const char English[] = "en";

// A text as a C string writes it, for messages.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : c == '\t' ? std::string("\\t")
            : c == '"' ? std::string("\\\"") : std::string(1, c);
    return out + "\"";
}

// The placeholders that take the arguments, in their order ("s", "d"); false
// at one the programs' formatting does not know (a width, a position,
// another type). A percent sign (%%) takes none, and may stand anywhere.
bool Placeholders(const std::string& text, std::string& found)
{
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2)) {
        char kind = at + 1 < text.size() ? text[at + 1] : '\0';
        if (kind != 's' && kind != 'd' && kind != '%')
            return false;
        if (kind != '%')
            found += kind;
    }
    return true;
}

std::string Named(const std::string& kinds)
{
    std::string out;
    for (char kind : kinds)
        out += std::string(out.empty() ? "" : ", ") + "%" + kind;
    return out.empty() ? "none" : out;
}

// How many line breaks (CR LF) a text begins and ends with.
std::pair<size_t, size_t> EdgeBreaks(const std::string& text)
{
    size_t begin = 0, end = 0;
    while (text.compare(2 * begin, 2, "\r\n") == 0)
        ++begin;
    while (text.size() >= 2 * (end + 1) && text.compare(text.size() - 2 * (end + 1), 2, "\r\n") == 0)
        ++end;
    return {begin, end};
}

uint32_t Word(const std::string& data, size_t at, bool swapped)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= uint32_t(uint8_t(data[at + i])) << (8 * (swapped ? 3 - i : i));
    return value;
}

// Whether a catalog's header (its translation of "") names UTF-8 as its
// character set: msgfmt keeps a catalog's bytes in the one it names.
bool NamesUtf8(const std::string& header)
{
    std::string lower = header;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return char(std::tolower(uint8_t(c))); });
    return lower.find("charset=utf-8\n") != std::string::npos;
}

// The messages of a catalog msgfmt compiled (a .mo file), but its header.
bool ReadCompiled(const std::string& path, Translations& translations, std::string& problem)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = path + " was not compiled from it (the build's target translations compiles it)";
        return false;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bool swapped = data.size() >= 28 && Word(data, 0, true) == MoMagic;
    if (data.size() < 28 || (!swapped && Word(data, 0, false) != MoMagic)) {
        problem = path + ": is no catalog msgfmt compiled";
        return false;
    }
    uint32_t count = Word(data, 8, swapped);
    uint32_t originals = Word(data, 12, swapped);
    uint32_t translated = Word(data, 16, swapped);
    auto text = [&](uint32_t table, uint32_t index, std::string& out) {
        uint64_t entry = uint64_t(table) + 8 * uint64_t(index);
        if (entry + 8 > data.size())
            return false;
        uint64_t length = Word(data, size_t(entry), swapped), offset = Word(data, size_t(entry + 4), swapped);
        if (offset + length >= data.size())
            return false;
        out = data.substr(size_t(offset), size_t(length));
        return true;
    };
    for (uint32_t i = 0; i < count; ++i) {
        std::string english, translation;
        if (!text(originals, i, english) || !text(translated, i, translation)) {
            problem = path + ": is cut short or damaged";
            return false;
        }
        if (!english.empty())
            translations[english] = translation;
        else if (!NamesUtf8(translation)) {
            problem = "its header's Content-Type names another character set than UTF-8, which the programs take "
                      "its texts for (msginit names ASCII for a language this machine has no locale of): make it "
                      "charset=UTF-8";
            return false;
        }
    }
    return true;
}

// What is wrong with one translation; empty when nothing is.
std::string TranslationProblem(const std::string& language, const std::string& english, const std::string& translation)
{
    if (language == English && translation != english)
        return "English translates it by something else: the English texts are the programs' own";
    // A text with a lone percent sign is no format: the programs show it as it stands.
    std::string wanted, given;
    bool format = Placeholders(english, wanted);
    if (format && !Placeholders(translation, given))
        return "the translation holds a placeholder the programs cannot fill (only %s, %d and %% are, in the "
               "English's order)";
    if (format && given != wanted)
        return "the translation has the placeholders " + Named(given) + " where the English has " + Named(wanted)
            + ", in this order";
    if (EdgeBreaks(english) != EdgeBreaks(translation))
        return "the translation begins or ends with other line breaks than the English";
    return "";
}

} // namespace

const LanguageInfo* FindLanguage(const std::string& name)
{
    for (const LanguageInfo& language : Languages)
        if (name == language.name)
            return &language;
    return nullptr;
}

std::string LanguageNames()
{
    std::string names;
    for (const LanguageInfo& language : Languages)
        names += std::string(names.empty() ? "" : ", ") + language.name;
    return names;
}

bool ReadTranslations(const std::string& sourceDir, const std::string& compiledDir,
    std::map<std::string, Translations>& languages, std::vector<std::string>& errors)
{
    size_t before = errors.size();
    DIR* folder = opendir(sourceDir.c_str());
    if (!folder) {
        errors.push_back(sourceDir + ": cannot be read");
        return false;
    }
    std::set<std::string> names;
    for (dirent* entry; (entry = readdir(folder)) != nullptr;) {
        std::string file = entry->d_name;
        if (file.size() > 3 && file.compare(file.size() - 3, 3, ".po") == 0)
            names.insert(file.substr(0, file.size() - 3));
    }
    closedir(folder);
    std::map<uint32_t, std::string> keys;
    for (const std::string& name : names) {
        std::string source = sourceDir + "/" + name + ".po";
        if (!FindLanguage(name)) {
            errors.push_back(source + ": no language of that name in the packer's table (packer/languages.cpp): "
                + LanguageNames());
            continue;
        }
        std::string problem;
        Translations& translations = languages[name];
        if (!ReadCompiled(compiledDir + "/" + name + ".mo", translations, problem)) {
            errors.push_back(source + ": " + problem);
            continue;
        }
        for (const auto& message : translations) {
            problem = TranslationProblem(name, message.first, message.second);
            if (!problem.empty())
                errors.push_back(source + ": " + Quoted(message.first) + ": " + problem);
            std::string& same = keys[TextKey(message.first.c_str())];
            if (!same.empty() && same != message.first)
                errors.push_back(source + ": " + Quoted(message.first) + " and " + Quoted(same)
                    + " have the same key: the programs could not tell them apart; reword one");
            same = message.first;
        }
    }
    if (!languages.count(English) && errors.size() == before)
        errors.push_back(sourceDir + "/en.po: is missing: English is every product's fallback");
    return errors.size() == before;
}
