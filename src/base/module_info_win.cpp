#include "base/module_info_win.h"

#include <windows.h>

#include <vector>

#include "base/game_key.h"
#include "base/resource_ids.h"
#include "build_config.h"

namespace {

// The base address compiled in; brand.exe replaces the resource in a copy.
const wchar_t kBuiltInServerBase[] = GD_SERVER_BASE_W;

bool ReadOwnVersionRecord(std::vector<unsigned char>* record) {
  wchar_t path[MAX_PATH] = {};
  if (!::GetModuleFileNameW(nullptr, path, MAX_PATH)) return false;
  DWORD handle = 0;
  DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return false;
  record->assign(size, 0);
  return ::GetFileVersionInfoW(path, 0, size, record->data()) != FALSE;
}

}  // namespace

std::wstring ReadOwnGameKey() {
  std::vector<unsigned char> record;
  if (!ReadOwnVersionRecord(&record)) return std::wstring();
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) {
    return std::wstring();
  }
  const WORD* pair = static_cast<const WORD*>(value);
  std::wstring query = DescriptionQueryPath(pair[0], pair[1]);
  if (!::VerQueryValueW(record.data(), query.c_str(), &value, &length) || !value) return std::wstring();
  const wchar_t* text = static_cast<const wchar_t*>(value);
  return GameKeyFromDescription(std::wstring(text, wcsnlen(text, length)));
}

bool ReadOwnFileVersion(uint32_t* versionMs, uint32_t* versionLs) {
  std::vector<unsigned char> record;
  if (!ReadOwnVersionRecord(&record)) return false;
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(record.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return false;
  const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  *versionMs = info->dwFileVersionMS;
  *versionLs = info->dwFileVersionLS;
  return true;
}

std::wstring DownloadServerBase() {
  HRSRC info = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_SERVER_BASE), MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL data = info ? ::LoadResource(nullptr, info) : nullptr;
  const wchar_t* text = data ? static_cast<const wchar_t*>(::LockResource(data)) : nullptr;
  if (!text) return kBuiltInServerBase;
  std::wstring base(text, ::SizeofResource(nullptr, info) / sizeof(wchar_t));
  base = base.substr(0, base.find(L'\0'));
  return base.empty() ? std::wstring(kBuiltInServerBase) : base;
}
