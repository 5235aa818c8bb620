// Adds a test CA (DER file) to the local machine's Root store of the Wine
// prefix it runs in, so that HTTPS tests can trust their own server without
// touching the host's certificates.
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <cstdio>
#include <vector>

#include "base/scoped_win.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_ca.exe CA.der\n");
    return 2;
  }
  std::vector<BYTE> der(64 * 1024);
  DWORD got = 0;
  {
    ScopedFile file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file || !::ReadFile(file.Get(), der.data(), static_cast<DWORD>(der.size()), &got, nullptr) || got == 0) {
      return 1;
    }
  }
  ScopedCertStore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!store) return 1;
  BOOL added = ::CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, der.data(), got,
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  std::printf("%s\n", added ? "trusted" : "failed");
  return added ? 0 : 1;
}
