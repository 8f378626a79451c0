// Path rules of the installation folder, free of side effects.
#pragma once
#include <stddef.h>

void StripTrailingChar(char* text, char c);
// Each run of slashes and backslashes becomes one backslash, but a path that
// begins with two or more separators and a name keeps two: \\server\share.
void NormalizeSeparators(char* path);
// The fallback proposal from the home variables (either may be null).
bool BuildHomeProposal(const char* homeDrive, const char* homePath, const char* folderName, char* out, size_t size);
// Splits a proposal at its last backslash (else its last slash) into the dialog's two fields.
bool SplitProposal(const char* proposal, char* parent, size_t parentSize, char* name, size_t nameSize);
// Joins the dialog's two fields into a folder path.
bool JoinFolderFields(const char* parent, const char* name, char* out, size_t size);
// Whether a path ends with the product's folder name, ignoring the case of A to Z.
bool EndsWithFolderName(const char* path, const char* folderName);
