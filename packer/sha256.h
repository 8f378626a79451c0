// SHA-256 on the build machine: OpenSSL's libcrypto where the packer is built
// for Linux, the system's BCrypt where it is built for Windows; both give the
// same digests, so both packers write the same tables.
#pragma once
#include <array>
#include <cstddef>

using Sha256Digest = std::array<unsigned char, 32>;

// One digest made piece by piece: Start (which drops a digest begun), Add for
// each piece, then Finish; a state serves one digest after another. Each step
// returns false on failure.
struct Sha256State;
Sha256State* NewSha256();
void FreeSha256(Sha256State* state);
bool StartSha256(Sha256State* state);
bool AddToSha256(Sha256State* state, const void* bytes, size_t length);
bool FinishSha256(Sha256State* state, Sha256Digest& digest);

// The digest of bytes in one step.
bool Sha256Of(const void* bytes, size_t length, Sha256Digest& digest);
