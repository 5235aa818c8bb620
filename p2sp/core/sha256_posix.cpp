#include <openssl/evp.h>

#include "sha256.h"

namespace p2sp {

struct Sha256::Impl {
  EVP_MD_CTX* ctx = nullptr;
  bool ok = false;
  void Begin() { ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1; }
};

Sha256::Sha256() : m_impl(new Impl) {
  m_impl->ctx = EVP_MD_CTX_new();
  m_impl->Begin();
}

Sha256::~Sha256() { EVP_MD_CTX_free(m_impl->ctx); }

void Sha256::Update(const void* data, size_t size) {
  if (m_impl->ok && size > 0) m_impl->ok = EVP_DigestUpdate(m_impl->ctx, data, size) == 1;
}

bool Sha256::Final(Sha256Digest* digest) {
  unsigned int n = 0;
  bool ok = m_impl->ok && EVP_DigestFinal_ex(m_impl->ctx, digest->data(), &n) == 1 && n == digest->size();
  m_impl->Begin();
  return ok;
}

}  // namespace p2sp
