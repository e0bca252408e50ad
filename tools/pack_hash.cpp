#include "tools/pack_hash.h"

#include <openssl/evp.h>
#include <xxhash.h>

uint64_t PackXxh64(const uint8_t* data, size_t size) { return XXH64(data, size, 0); }

bool PackXxh64Begin(PackXxh64Stream* s) {
  XXH64_state_t* state = XXH64_createState();
  if (state != nullptr) XXH64_reset(state, 0);
  s->state = state;
  return state != nullptr;
}

void PackXxh64Update(PackXxh64Stream* s, const uint8_t* data, size_t size) {
  if (s->state != nullptr) XXH64_update(static_cast<XXH64_state_t*>(s->state), data, size);
}

uint64_t PackXxh64End(PackXxh64Stream* s) {
  auto* state = static_cast<XXH64_state_t*>(s->state);
  const uint64_t sum = state != nullptr ? XXH64_digest(state) : 0;
  XXH64_freeState(state);
  s->state = nullptr;
  return sum;
}

bool PackSha256Begin(PackSha256* s) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    context = nullptr;
  }
  s->context = context;
  return context != nullptr;
}

void PackSha256Update(PackSha256* s, const uint8_t* data, size_t size) {
  if (s->context != nullptr && EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(s->context), data, size) != 1) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(s->context));
    s->context = nullptr;  // End then reports the failure
  }
}

bool PackSha256End(PackSha256* s, uint8_t digest[32]) {
  auto* context = static_cast<EVP_MD_CTX*>(s->context);
  bool ok = false;
  if (context != nullptr && digest != nullptr) {
    unsigned length = 0;
    ok = EVP_DigestFinal_ex(context, digest, &length) == 1 && length == 32;
  }
  EVP_MD_CTX_free(context);
  s->context = nullptr;
  return ok;
}
