// brand.exe: stamps a game key and a download server address into a built
// copy of the downloader, so one build can be handed out for many games.
//
//   brand.exe PROGRAM.exe [--game-key KEY] [--server URL]
//
// The key replaces FileDescription in the version resource; the server
// address goes into RCDATA 300 as UTF-16LE without a terminator. The edit is
// made on a temporary copy next to PROGRAM.exe, read back, and only then
// moved over the original, so a failure part-way leaves the original as it
// was.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "contract/text.h"
#include "version_block.h"

namespace {

enum ExitCode { kOk = 0, kFileError = 1, kUsageError = 2 };

const LPCWSTR kTypeVersion = MAKEINTRESOURCEW(16);
const LPCWSTR kTypeRcdata = MAKEINTRESOURCEW(10);
const LPCWSTR kVersionId = MAKEINTRESOURCEW(1);
const LPCWSTR kServerId = MAKEINTRESOURCEW(300);
// Used for the server address only when the program has none yet.
const WORD kDefaultLanguage = 0x0804;
const wchar_t kServerPathSuffix[] = L"/tool/muldown/";

// ---- output -------------------------------------------------------------

// Console handles take UTF-16 directly; anything redirected gets UTF-8 so
// that keys outside the console code page survive in logs.
void Write(DWORD which, const std::wstring& text) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0, done = 0;
  if (GetConsoleMode(h, &mode)) {
    WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    return;
  }
  const std::string utf8 = gd_text::WideToUtf8(text);
  WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
}

void Error(const std::wstring& text) { Write(STD_ERROR_HANDLE, L"brand: " + text + L"\n"); }

std::wstring SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  // Some messages name the file through an insert we do not fill in.
  for (size_t at; (at = text.find(L"%1")) != std::wstring::npos;) text.replace(at, 2, L"file");
  while (!text.empty() &&
         (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.')) {
    text.pop_back();
  }
  return text.empty() ? L"error " + std::to_wstring(code) : text;
}

// Formats "<what>: <last Win32 error>" while the error code is still fresh.
std::wstring Failure(const std::wstring& what) { return what + L": " + SystemMessage(GetLastError()); }

void Usage() {
  Write(STD_ERROR_HANDLE,
        L"usage: brand.exe PROGRAM.exe [--game-key KEY] [--server URL]\n"
        L"  --game-key KEY  game key to stamp (normally a braced GUID)\n"
        L"  --server URL    download server, http[s]://HOST[:PORT]/.../tool/muldown/\n"
        L"At least one of the options is required.\n");
}

// ---- scoped Win32 handles ----------------------------------------------

// Discards the pending changes unless Commit() succeeded.
class ResourceUpdate {
 public:
  explicit ResourceUpdate(const std::wstring& path) : handle_(BeginUpdateResourceW(path.c_str(), FALSE)) {}
  ~ResourceUpdate() {
    if (handle_) EndUpdateResourceW(handle_, TRUE);
  }
  ResourceUpdate(const ResourceUpdate&) = delete;
  ResourceUpdate& operator=(const ResourceUpdate&) = delete;
  HANDLE get() const { return handle_; }
  bool Commit() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return EndUpdateResourceW(h, FALSE) != FALSE;
  }

 private:
  HANDLE handle_;
};

// Removes the working copy unless it has been moved into place.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() {
    if (path_.empty()) return;
    SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  void Own(const std::wstring& path) { path_ = path; }
  void Release() { path_.clear(); }

 private:
  std::wstring path_;
};

// ---- arguments ----------------------------------------------------------

struct Options {
  std::wstring program;
  bool set_key = false;
  std::wstring key;
  bool set_server = false;
  std::wstring server;
};

bool IsControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool CheckKey(const std::wstring& key, std::wstring* why) {
  if (key.empty()) {
    *why = L"the game key is empty";
    return false;
  }
  for (size_t i = 0; i < key.size(); ++i) {
    const wchar_t c = key[i];
    if (IsControl(c)) {
      *why = L"the game key contains a control character";
      return false;
    }
    // A lone surrogate would be stored as garbage nobody can read back.
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < key.size() && key[i + 1] >= 0xDC00 && key[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      *why = L"the game key is not valid Unicode text";
      return false;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
      *why = L"the game key is not valid Unicode text";
      return false;
    }
  }
  return true;
}

bool StartsWithNoCase(const std::wstring& s, const std::wstring& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (towlower(s[i]) != towlower(prefix[i])) return false;
  }
  return true;
}

bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool CheckHost(const std::wstring& host) {
  std::wstring name = host, port;
  if (!host.empty() && host[0] == L'[') {
    const size_t close = host.find(L']');
    if (close == std::wstring::npos || close == 1) return false;
    for (size_t i = 1; i < close; ++i) {
      const wchar_t c = host[i];
      if (!(IsAsciiDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F') || c == L':' || c == L'.')) {
        return false;
      }
    }
    if (close + 1 < host.size()) {
      if (host[close + 1] != L':') return false;
      port = host.substr(close + 2);
      if (port.empty()) return false;
    }
  } else {
    const size_t colon = host.find(L':');
    if (colon != std::wstring::npos) {
      name = host.substr(0, colon);
      port = host.substr(colon + 1);
      if (port.empty()) return false;
    }
    if (name.empty()) return false;
    for (wchar_t c : name) {
      if (!(IsAsciiDigit(c) || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'-' || c == L'.')) {
        return false;
      }
    }
  }
  if (!port.empty()) {
    if (port.size() > 5) return false;
    unsigned long value = 0;
    for (wchar_t c : port) {
      if (!IsAsciiDigit(c)) return false;
      value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (value == 0 || value > 65535) return false;
  }
  return true;
}

// The downloader appends file names to this address, so anything after the
// fixed path (query, fragment) or characters that need escaping would end up
// in the middle of every request.
bool CheckServer(std::wstring* url, std::wstring* why) {
  std::wstring scheme = L"http://";
  if (StartsWithNoCase(*url, L"https://")) {
    scheme = L"https://";
  } else if (!StartsWithNoCase(*url, scheme)) {
    *why = L"the server address must start with http:// or https://";
    return false;
  }
  for (wchar_t c : *url) {
    if (c <= 0x20 || c >= 0x7F) {
      *why = L"the server address contains spaces, control or non-ASCII characters";
      return false;
    }
    if (c == L'?' || c == L'#') {
      *why = L"the server address must not contain a query or fragment";
      return false;
    }
  }
  const std::wstring rest = url->substr(scheme.size());
  const size_t slash = rest.find(L'/');
  if (!CheckHost(rest.substr(0, slash))) {
    *why = L"the server address has no valid host name";
    return false;
  }
  const std::wstring suffix = kServerPathSuffix;
  const std::wstring path = slash == std::wstring::npos ? std::wstring() : rest.substr(slash);
  if (path.size() < suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    *why = L"the server address must end with " + suffix;
    return false;
  }
  *url = scheme + rest;  // scheme in lower case, as the downloader expects
  return true;
}

// Returns kOk when the command line is usable, otherwise the exit code.
int ParseArguments(int argc, wchar_t** argv, Options* opt) {
  bool have_program = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
      Usage();
      return -1;
    }
    std::wstring name = arg, value;
    bool inline_value = false;
    if (arg.compare(0, 2, L"--") == 0) {
      const size_t eq = arg.find(L'=');
      if (eq != std::wstring::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inline_value = true;
      }
      if (name != L"--game-key" && name != L"--server") {
        Error(L"unknown option " + name);
        return kUsageError;
      }
      if (!inline_value) {
        // "--game-key --server x" is a forgotten key, not a key.
        if (i + 1 >= argc || std::wstring(argv[i + 1]).compare(0, 2, L"--") == 0) {
          Error(L"option " + name + L" needs a value");
          return kUsageError;
        }
        value = argv[++i];
      }
      bool& seen = name == L"--game-key" ? opt->set_key : opt->set_server;
      if (seen) {
        Error(L"option " + name + L" given twice");
        return kUsageError;
      }
      seen = true;
      (name == L"--game-key" ? opt->key : opt->server) = value;
      continue;
    }
    if (have_program) {
      Error(L"more than one program given: " + arg);
      return kUsageError;
    }
    opt->program = arg;
    have_program = true;
  }
  if (!have_program || opt->program.empty()) {
    Error(L"no program to brand given");
    Usage();
    return kUsageError;
  }
  if (!opt->set_key && !opt->set_server) {
    Error(L"nothing to do: give --game-key, --server or both");
    Usage();
    return kUsageError;
  }
  std::wstring why;
  if (opt->set_key && !CheckKey(opt->key, &why)) {
    Error(why);
    return kUsageError;
  }
  if (opt->set_server && !CheckServer(&opt->server, &why)) {
    Error(why + L": " + opt->server);
    return kUsageError;
  }
  return kOk;
}

// ---- resources ----------------------------------------------------------

struct Resource {
  WORD language = 0;
  std::vector<uint8_t> data;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

// Reads every language of one resource. A missing resource is not an error
// (the list stays empty); an unreadable one is.
bool ReadResource(HMODULE module, LPCWSTR type, LPCWSTR name, std::vector<Resource>* out, std::wstring* error) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
  out->clear();
  for (WORD language : languages) {
    HRSRC info = FindResourceExW(module, type, name, language);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
      *error = Failure(L"cannot read a resource");
      return false;
    }
    const DWORD size = SizeofResource(module, info);
    Resource r;
    r.language = language;
    r.data.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    out->push_back(std::move(r));
  }
  return true;
}

struct ProgramResources {
  std::vector<Resource> version;
  std::vector<Resource> server;
};

bool ReadProgram(const std::wstring& path, ProgramResources* out, std::wstring* error) {
  // The module is released when this returns: the file must not be mapped
  // while it is being updated.
  ScopedModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module.Get()) {
    *error = Failure(L"cannot open " + path + L" as a Windows program");
    return false;
  }
  return ReadResource(module.Get(), kTypeVersion, kVersionId, &out->version, error) &&
         ReadResource(module.Get(), kTypeRcdata, kServerId, &out->server, error);
}

std::vector<uint8_t> Utf16Bytes(const std::wstring& text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : gd_text::WideToUtf16(text)) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

std::vector<WORD> LanguagesOf(const std::vector<Resource>& list) {
  std::vector<WORD> languages;
  for (const Resource& r : list) languages.push_back(r.language);
  return languages;
}

// Compares what is in the file now with what was meant to be written.
bool Verify(const std::wstring& path, const std::vector<Resource>& version, const std::vector<Resource>& server,
            std::wstring* error) {
  ProgramResources now;
  if (!ReadProgram(path, &now, error)) return false;
  if (!version.empty()) {
    if (LanguagesOf(now.version) != LanguagesOf(version)) {
      *error = L"the version resource did not keep its language";
      return false;
    }
    for (size_t i = 0; i < version.size(); ++i) {
      // Readers may see trailing padding; the block itself must match.
      const std::vector<uint8_t>& got = now.version[i].data;
      const std::vector<uint8_t>& want = version[i].data;
      if (got.size() < want.size() || !std::equal(want.begin(), want.end(), got.begin())) {
        *error = L"the version resource did not read back as written";
        return false;
      }
    }
  }
  if (!server.empty()) {
    if (LanguagesOf(now.server) != LanguagesOf(server)) {
      *error = L"the server address resource did not keep its language";
      return false;
    }
    for (size_t i = 0; i < server.size(); ++i) {
      if (now.server[i].data != server[i].data) {
        *error = L"the server address did not read back as written";
        return false;
      }
    }
  }
  return true;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD m = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
  if (m == 0 || m >= n) return path;
  full.resize(m);
  return full;
}

std::wstring DirectoryOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash + 1);
}

int Run(const Options& opt) {
  const std::wstring path = FullPath(opt.program);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Error(Failure(L"cannot find " + path));
    return kFileError;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    Error(path + L" is a directory");
    return kFileError;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    Error(path + L" is read-only");
    return kFileError;
  }

  ProgramResources current;
  std::wstring error;
  if (!ReadProgram(path, &current, &error)) {
    Error(error);
    return kFileError;
  }

  std::vector<Resource> version;
  if (opt.set_key) {
    if (current.version.empty()) {
      Error(path + L" has no version resource to hold the game key");
      return kFileError;
    }
    for (const Resource& old : current.version) {
      brand::VersionNode root;
      if (!brand::ParseVersionBlock(old.data, &root)) {
        Error(L"the version resource of " + path + L" is damaged");
        return kFileError;
      }
      if (!brand::SetStringValue(root, u"FileDescription", gd_text::WideToUtf16(opt.key))) {
        Error(L"the version resource of " + path + L" has no string table for the game key");
        return kFileError;
      }
      Resource updated;
      updated.language = old.language;
      updated.data = brand::SerializeVersionBlock(root);
      if (updated.data.empty()) {
        Error(L"the game key is too long to fit in the version resource");
        return kUsageError;
      }
      version.push_back(std::move(updated));
    }
  }

  std::vector<Resource> server;
  if (opt.set_server) {
    std::vector<WORD> languages = LanguagesOf(current.server);
    if (languages.empty()) languages.push_back(kDefaultLanguage);
    for (WORD language : languages) {
      Resource r;
      r.language = language;
      r.data = Utf16Bytes(opt.server);
      server.push_back(std::move(r));
    }
  }

  TempFile temp;
  std::vector<wchar_t> name(MAX_PATH + 1, L'\0');
  if (!GetTempFileNameW(DirectoryOf(path).c_str(), L"brd", 0, name.data())) {
    Error(Failure(L"cannot create a working copy next to " + path));
    return kFileError;
  }
  const std::wstring work = name.data();
  temp.Own(work);
  if (!CopyFileW(path.c_str(), work.c_str(), FALSE)) {
    Error(Failure(L"cannot copy " + path));
    return kFileError;
  }

  {
    ResourceUpdate update(work);
    if (!update.get()) {
      Error(Failure(L"cannot update resources of " + path));
      return kFileError;
    }
    for (Resource& r : version) {
      if (!UpdateResourceW(update.get(), kTypeVersion, kVersionId, r.language, r.data.data(),
                           static_cast<DWORD>(r.data.size()))) {
        Error(Failure(L"cannot replace the version resource"));
        return kFileError;
      }
    }
    for (Resource& r : server) {
      if (!UpdateResourceW(update.get(), kTypeRcdata, kServerId, r.language, r.data.data(),
                           static_cast<DWORD>(r.data.size()))) {
        Error(Failure(L"cannot store the server address"));
        return kFileError;
      }
    }
    if (!update.Commit()) {
      Error(Failure(L"cannot write the resources of " + path));
      return kFileError;
    }
  }

  if (!Verify(work, version, server, &error)) {
    Error(error + L"; " + path + L" was left unchanged");
    return kFileError;
  }
  if (!MoveFileExW(work.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Error(Failure(L"cannot replace " + path + L" (is it running?)"));
    return kFileError;
  }
  temp.Release();

  std::wstring done = L"branded " + path;
  if (opt.set_key) done += L"\n  game key: " + opt.key;
  if (opt.set_server) done += L"\n  server:   " + opt.server;
  Write(STD_OUTPUT_HANDLE, done + L"\n");
  return kOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options opt;
  const int parsed = ParseArguments(argc, argv, &opt);
  if (parsed < 0) return kOk;  // help was asked for
  if (parsed != kOk) return parsed;
  return Run(opt);
}
