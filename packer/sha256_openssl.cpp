#include "sha256.h"
#include <openssl/evp.h>

struct Sha256State {
    EVP_MD_CTX* context;
};

Sha256State* NewSha256()
{
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    return context ? new Sha256State{context} : nullptr;
}

void FreeSha256(Sha256State* state)
{
    if (state)
        EVP_MD_CTX_free(state->context);
    delete state;
}

bool StartSha256(Sha256State* state)
{
    return EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) == 1;
}

bool AddToSha256(Sha256State* state, const void* bytes, size_t length)
{
    return EVP_DigestUpdate(state->context, bytes, length) == 1;
}

bool FinishSha256(Sha256State* state, Sha256Digest& digest)
{
    unsigned int length = 0;
    return EVP_DigestFinal_ex(state->context, digest.data(), &length) == 1 && length == digest.size();
}

bool Sha256Of(const void* bytes, size_t length, Sha256Digest& digest)
{
    unsigned int written = 0;
    return EVP_Digest(bytes, length, digest.data(), &written, EVP_sha256(), nullptr) == 1 && written == digest.size();
}
