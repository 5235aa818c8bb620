// The machine-identity library: GetCIDW fills a caller's buffer with a text
// that names this machine, the same on every run and different between
// machines. The text is the MD5 (32 lower-case hex digits) of the Windows
// installation's machine GUID and the serial number of the system volume, so
// it can travel unencoded in a URL and reveals neither.
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

namespace {

constexpr DWORD kMd5Size = 16;
constexpr int kIdLength = 32;

// The 64-bit view holds the GUID; a 32-bit copy on 64-bit Windows would
// otherwise be redirected to a view without it.
// Fills guid (capacity 128) and answers its length, 0 when there is none.
DWORD MachineGuid(wchar_t* guid) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &key) != ERROR_SUCCESS)
    return 0;
  DWORD bytes = 127 * sizeof(wchar_t);
  DWORD type = 0;
  LONG status = ::RegQueryValueExW(key, L"MachineGuid", nullptr, &type, reinterpret_cast<BYTE*>(guid), &bytes);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) {
    guid[0] = 0;  // a failed query may have left part of a value behind
    return 0;
  }
  DWORD length = bytes / sizeof(wchar_t);
  guid[length] = 0;
  while (length > 0 && guid[length - 1] == 0) --length;
  return length;
}

bool SystemVolumeSerial(DWORD* serial) {
  wchar_t dir[MAX_PATH] = {};
  UINT n = ::GetSystemWindowsDirectoryW(dir, MAX_PATH);
  if (n < 3 || n >= MAX_PATH || dir[1] != L':') return false;
  wchar_t root[] = {dir[0], L':', L'\\', 0};
  return ::GetVolumeInformationW(root, nullptr, 0, serial, nullptr, nullptr, nullptr, 0) != 0;
}

bool Md5(const BYTE* data, DWORD size, BYTE digest[kMd5Size]) {
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
  HCRYPTHASH hash = 0;
  bool ok = false;
  if (::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
    DWORD digestSize = kMd5Size;
    ok = ::CryptHashData(hash, data, size, 0) && ::CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) &&
         digestSize == kMd5Size;
    ::CryptDestroyHash(hash);
  }
  ::CryptReleaseContext(provider, 0);
  return ok;
}

}  // namespace

extern "C" __declspec(dllexport) int __stdcall GetCIDW(wchar_t* buffer, int capacity) {
  if (!buffer || capacity < kIdLength + 1) return 0;
  buffer[0] = 0;
  // Zeroed: without a GUID the material still starts with its terminator,
  // never with whatever the stack held, so every run hashes the same bytes.
  wchar_t guid[128] = {};
  DWORD guidLength = MachineGuid(guid);
  DWORD serial = 0;
  bool haveSerial = SystemVolumeSerial(&serial);
  if (guidLength == 0 && !haveSerial) return 0;

  // The GUID as UTF-16LE with its terminator, then the serial little-endian.
  BYTE material[128 * 2 + 4];
  DWORD size = 0;
  for (DWORD i = 0; i <= guidLength; ++i) {
    material[size++] = static_cast<BYTE>(guid[i] & 0xff);
    material[size++] = static_cast<BYTE>(guid[i] >> 8);
  }
  for (int i = 0; i < 4; ++i) material[size++] = haveSerial ? static_cast<BYTE>(serial >> (8 * i)) : 0;

  BYTE digest[kMd5Size];
  if (!Md5(material, size, digest)) return 0;
  static const wchar_t kHex[] = L"0123456789abcdef";
  for (DWORD i = 0; i < kMd5Size; ++i) {
    buffer[2 * i] = kHex[digest[i] >> 4];
    buffer[2 * i + 1] = kHex[digest[i] & 15];
  }
  buffer[kIdLength] = 0;
  return 1;
}
