#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <vector>

#include "sha256.h"

namespace p2sp {
namespace {

// One provider for the process; CNG allows it to be shared between threads.
BCRYPT_ALG_HANDLE Provider() {
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) h = nullptr;
    return h;
  }();
  return provider;
}

}  // namespace

struct Sha256::Impl {
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::vector<UCHAR> object;
  bool ok = false;

  void Begin() {
    if (hash) BCryptDestroyHash(hash);
    hash = nullptr;
    ok = false;
    BCRYPT_ALG_HANDLE alg = Provider();
    if (!alg) return;
    DWORD length = 0, got = 0;
    if (BCryptGetProperty(alg, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length, &got, 0) < 0)
      return;
    object.assign(length, 0);
    ok = BCryptCreateHash(alg, &hash, object.data(), length, nullptr, 0, 0) >= 0;
  }
};

Sha256::Sha256() : m_impl(new Impl) { m_impl->Begin(); }

Sha256::~Sha256() {
  if (m_impl->hash) BCryptDestroyHash(m_impl->hash);
}

void Sha256::Update(const void* data, size_t size) {
  const UCHAR* p = static_cast<const UCHAR*>(data);
  while (m_impl->ok && size > 0) {
    ULONG n = static_cast<ULONG>(size > 0x40000000u ? 0x40000000u : size);
    m_impl->ok = BCryptHashData(m_impl->hash, const_cast<PUCHAR>(p), n, 0) >= 0;
    p += n;
    size -= n;
  }
}

bool Sha256::Final(Sha256Digest* digest) {
  bool ok = m_impl->ok && BCryptFinishHash(m_impl->hash, digest->data(), static_cast<ULONG>(digest->size()), 0) >= 0;
  m_impl->Begin();
  return ok;
}

}  // namespace p2sp
