#include "sha256.h"
#include <windows.h>
#include <bcrypt.h>
#include <climits>

struct Sha256State {
    BCRYPT_HASH_HANDLE hash; // null between digests
};

namespace {

// BCrypt's SHA-256 provider, opened once for the run.
BCRYPT_ALG_HANDLE Provider()
{
    static BCRYPT_ALG_HANDLE provider = nullptr;
    static bool opened = BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0;
    return opened ? provider : nullptr;
}

void EndHash(Sha256State* state)
{
    if (state->hash)
        BCryptDestroyHash(state->hash); // result deliberately ignored: the object is not used again
    state->hash = nullptr;
}

} // namespace

Sha256State* NewSha256()
{
    return new Sha256State{nullptr};
}

void FreeSha256(Sha256State* state)
{
    if (state)
        EndHash(state);
    delete state;
}

// A digest begun and not finished is dropped, as OpenSSL's starts afresh.
bool StartSha256(Sha256State* state)
{
    EndHash(state);
    BCRYPT_ALG_HANDLE provider = Provider();
    return provider && BCryptCreateHash(provider, &state->hash, nullptr, 0, nullptr, 0, 0) >= 0;
}

bool AddToSha256(Sha256State* state, const void* bytes, size_t length)
{
    auto* at = static_cast<unsigned char*>(const_cast<void*>(bytes));
    // BCrypt takes at most a ULONG's worth of bytes a call.
    while (state->hash && length > 0) {
        ULONG piece = length > ULONG_MAX ? ULONG_MAX : ULONG(length);
        if (BCryptHashData(state->hash, at, piece, 0) < 0)
            return false;
        at += piece;
        length -= piece;
    }
    return state->hash != nullptr;
}

bool FinishSha256(Sha256State* state, Sha256Digest& digest)
{
    bool made = state->hash && BCryptFinishHash(state->hash, digest.data(), ULONG(digest.size()), 0) >= 0;
    EndHash(state);
    return made;
}

bool Sha256Of(const void* bytes, size_t length, Sha256Digest& digest)
{
    Sha256State* state = NewSha256();
    bool made = StartSha256(state) && AddToSha256(state, bytes, length) && FinishSha256(state, digest);
    FreeSha256(state);
    return made;
}
