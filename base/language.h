// The language a run speaks. Every screen and message of both programs is
// shown in one of the languages the product ships (its manifest's
// `languages`), chosen once as the run starts; the log and the exit codes
// stay English, for support and administrators. The programs' own texts are
// English in the sources, each marked N_ so that xgettext gathers them into
// the translations' template, and locale/NAME.po translates them (see
// docs/languages.md, "Languages").
#pragma once
#include <windows.h>
#include <stdint.h>

// An English text of the programs: the translations know it by these bytes.
struct EnglishText {
    const char* text;
};
#define N_(english) EnglishText{english}

// One language the product ships, written by the packer from locale/NAME.po
// and the manifest: the translations, ordered by the key (TextKey) of their
// English texts, and the product's own texts in it (null: the default ones;
// the uninstaller's records give only the name).
struct LanguageRecord {
    const char* name;         // as the manifest names it: de, pt_BR, zh_TW
    uint16_t windowsLanguage; // its LANGID
    uint16_t rightToLeft;     // nonzero for a language written from right to left
    int32_t count;
    const uint32_t* keys;
    const char* const* texts;
    const char* displayName;
    const char* startupPrompt;
    const char* servicePrompt;
    const char* agreement;
};
// The product's languages, in the manifest's order: its default comes first.
extern const LanguageRecord* ProductLanguages;
extern int32_t ProductLanguageCount;

// Why a run speaks its language, for the log.
enum LanguageReason { LanguageAsked, LanguageRecorded, LanguageOfUser, LanguageOfUsersFamily, LanguageFirst };
// The language named by asked (/LANG=), else by recorded (the uninstaller's
// install record), where the product ships it; else the user's interface
// language, exactly, then the first of its primary language (Hong Kong and
// Macao reading Traditional, Singapore Simplified Chinese); else the
// product's first. Names compare ignoring letter case, "-" standing for "_".
const LanguageRecord* ChooseLanguage(const LanguageRecord* languages, int count, const char* asked,
    const char* recorded, LANGID user, LanguageReason* reason);
// The language the product's languages, asked (/LANG=), recorded and the
// user's interface language choose, made the run's; why it is spoken, for
// the log, with the user's interface language (also when it could not be,
// and English is: see SpeakLanguage).
const char* SpeakChosenLanguage(const char* asked, const char* recorded);
// What a program runs to speak another language than English, as the
// product's languages ask it: a product of English alone runs none of it.
struct LanguageCode {
    // Chooses the run's language and speaks it (SpeakChosenLanguage).
    const char* (*speakChosen)(const char* asked, const char* recorded);
    // The language an earlier run recorded for this one; null when none does.
    void (*readRecorded)(char* name, size_t size);
    // Puts a dialog's texts in the run's language (TranslateDialogTexts, dialogs.h).
    void (*translateDialog)(HWND dialog);
    // A dialog's template mirrored, for a product with a language written from
    // right to left (MirroredTemplate, dialogs.h).
    const DLGTEMPLATE* (*mirroredTemplate)(HINSTANCE instance, int id, void** copy);
};
extern LanguageCode ProductLanguageCode;

// Makes the language the run's (null: English, which every program carries),
// and its prompts and agreement the product's (ProductConfig, AgreementText),
// where it gives them. Where Windows does not give the process UTF-8, its
// translations and the product's name in it are first held in the process's
// code page: one that cannot hold them leaves the run in English with the
// default texts, and returns false.
bool SpeakLanguage(const LanguageRecord* language);
const LanguageRecord& RunLanguage();
bool RunIsRightToLeft();
// The English text in the run's language; itself where it has no translation.
const char* Translate(EnglishText english);
// The product's name as the user reads it: the run language's, else displayName.
const char* ShownProductName();
