// gamecfg.exe: the same commands, reading game files with the program's own
// file check.
#include <windows.h>

#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "config/profile_text.h"
#include "gamecfg.h"
#include "verify/file_check_win.h"

namespace {

std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8); }

class WinHost : public IGamecfgHost {
 public:
  bool ReadWholeFile(const std::string& path, std::string* bytes) override {
    ScopedFile file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    bytes->clear();
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) return false;
      if (got == 0) return true;
      bytes->append(buffer, got);
    }
  }
  bool ReadFileAt(const std::string& path, uint64_t offset, size_t size, std::string* bytes) override {
    ScopedFile file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) return false;
    bytes->assign(size, '\0');
    size_t have = 0;
    while (have < size) {
      DWORD want = static_cast<DWORD>(size - have > (1u << 30) ? (1u << 30) : size - have), got = 0;
      if (!::ReadFile(file.Get(), &(*bytes)[have], want, &got, nullptr)) return false;
      if (got == 0) break;
      have += got;
    }
    bytes->resize(have);
    return true;
  }
  bool WriteWholeFile(const std::string& path, const std::string& bytes) override {
    const std::wstring target = Wide(path);
    const std::wstring temp = target + L".gamecfg-tmp";
    {
      ScopedFile file(
          ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) return false;
      DWORD written = 0;
      if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
          written != bytes.size()) {
        file.Reset();
        ::DeleteFileW(temp.c_str());
        return false;
      }
    }
    if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    ::DeleteFileW(temp.c_str());
    return false;
  }
  bool StatFile(const std::string& path, bool* isRegularFile, uint64_t* size) override {
    const std::wstring wide = Wide(path);
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    *isRegularFile = !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    *size = *isRegularFile ? FileSizeForCheck(wide) : 0;
    return true;
  }
  bool FileMd5(const std::string& path, Md5Digest* digest) override { return ComputeFileMd5(Wide(path), digest); }
  std::string BaseName(const std::string& path) override {
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
  }
  std::string JoinPath(const std::string& dir, const std::string& name) override {
    if (dir.empty()) return name;
    char last = dir.back();
    return last == '\\' || last == '/' || last == ':' ? dir + name : dir + "\\" + name;
  }
  void Out(const std::string& bytes) override { Write(STD_OUTPUT_HANDLE, bytes); }
  void Err(const std::string& text) override { Write(STD_ERROR_HANDLE, text); }

 private:
  static void Write(DWORD which, const std::string& bytes) {
    HANDLE h = ::GetStdHandle(which);
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      if (!::WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
          written == 0) {
        return;
      }
      done += written;
    }
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
  WinHost host;
  return RunGamecfg(args, host);
}
