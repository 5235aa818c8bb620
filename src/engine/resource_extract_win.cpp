#include <windows.h>

#include <new>
#include <vector>

#include "base/scoped_win.h"
#include "engine/lzari.h"
#include "engine/resource_extract.h"

namespace {

bool WriteAll(HANDLE file, const std::vector<uint8_t>& data) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(data.size() - done < (1u << 24) ? data.size() - done : (1u << 24));
    DWORD written = 0;
    if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

int Extract(HMODULE module, int resourceId, const wchar_t* resourceType, const std::wstring& path) {
  HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), resourceType);
  if (!info) return 1;
  HGLOBAL loaded = ::LoadResource(module, info);
  if (!loaded) return 1;
  DWORD size = ::SizeofResource(module, info);
  const void* data = ::LockResource(loaded);
  if (!data) return 0;

  std::vector<uint8_t> decoded;
  if (LzariUnpack(static_cast<const uint8_t*>(data), size, decoded) != LzariStatus::kOk) return 0;

  ::DeleteFileW(path.c_str());
  ScopedFile file(
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr));
  if (!file) return 0;
  if (!WriteAll(file.Get(), decoded)) {
    // A half-written library must not be left for LoadLibraryW to find.
    file.Reset();
    ::DeleteFileW(path.c_str());
    return 0;
  }
  ::FlushFileBuffers(file.Get());
  return 1;
}

}  // namespace

int ExtractResourceToFile(void* module, int resourceId, const wchar_t* resourceType, const std::wstring& path) {
  try {
    return Extract(static_cast<HMODULE>(module), resourceId, resourceType, path);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int ExtractResourceToFile(int resourceId, const wchar_t* resourceType, const std::wstring& path) {
  return ExtractResourceToFile(::GetModuleHandleW(nullptr), resourceId, resourceType, path);
}
