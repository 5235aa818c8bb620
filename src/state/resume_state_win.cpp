#include "state/resume_state_win.h"

#include <windows.h>

#include <vector>

#include "base/scoped_win.h"

namespace {

const wchar_t kSection[] = L"Wavepull";

}  // namespace

bool CProfileResumeStore::Exists() {
  return !m_path.empty() && ::GetFileAttributesW(m_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CProfileResumeStore::Reset() {
  if (m_path.empty()) return;
  ::DeleteFileW(m_path.c_str());
  ScopedFile file(::CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!file) return;
  const unsigned char bom[2] = {0xff, 0xfe};
  DWORD written = 0;
  ::WriteFile(file.Get(), bom, sizeof(bom), &written, nullptr);
}

std::wstring CProfileResumeStore::Read(const wchar_t* key, const wchar_t* defaultValue, size_t maxChars,
                                       bool* tooLong) {
  // One character more than allowed shows whether the value was cut.
  std::vector<wchar_t> buffer(maxChars + 2, L'\0');
  DWORD n = ::GetPrivateProfileStringW(kSection, key, defaultValue, buffer.data(), static_cast<DWORD>(buffer.size()),
                                       m_path.c_str());
  if (tooLong) *tooLong = n > maxChars;
  if (n > maxChars) n = static_cast<DWORD>(maxChars);
  return std::wstring(buffer.data(), n);
}

void CProfileResumeStore::Write(const wchar_t* key, const std::wstring& value) {
  ::WritePrivateProfileStringW(kSection, key, value.c_str(), m_path.c_str());
}

std::wstring GetResumeFilePath(const std::wstring& gameKey) {
  wchar_t temp[2048] = {};
  DWORD n = ::GetTempPathW(2048, temp);
  if (n == 0 || n >= 2048) return std::wstring();
  std::wstring path(temp, n);
  if (path.back() != L'\\') path += L'\\';
  return path + gameKey + L".tmp.cfg";
}

