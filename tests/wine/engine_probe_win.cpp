// Drives the engine wrapper and the packed DLLs the way the program does, and
// edits the resources of a program copy for the tests.
//   engine_probe instance [--copy-to PATH]   bind the engine, report, try a task
//   engine_probe cid                         extract the identity DLL, GetCIDW twice
//   engine_probe time-extract N              time the engine's extraction N times
//   engine_probe remove-resource EXE TYPE ID
//   engine_probe replace-resource EXE TYPE ID FILE
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "config/downloader_config.h"
#include "engine/download_manager.h"
#include "engine/resource_extract.h"
#include "probe_output_win.h"

namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int Instance(int argc, wchar_t** argv) {
  CDownloadManager& manager = CDownloadManager::Instance();
  std::wstring path = DownloaderConfig().GetEngineLibraryPath();
  PrintLine(L"path %ls", path.c_str());
  PrintLine(L"loaded %d", manager.IsLoaded() ? 1 : 0);
  PrintLine(L"exists %d", Exists(path) ? 1 : 0);
  PrintLine(L"size %lld", FileSize(path));
  // The file is in use while the engine is loaded: nobody may replace it.
  PrintLine(L"deletable %d", ::DeleteFileW(path.c_str()) ? 1 : 0);
  if (argc >= 4 && std::wcscmp(argv[2], L"--copy-to") == 0)
    PrintLine(L"copied %d", ::CopyFileW(path.c_str(), argv[3], FALSE) ? 1 : 0);
  PrintLine(L"init %d", manager.Init(0));
  PrintLine(L"seed %d", manager.SetSeedUrl(L"http://127.0.0.1/seed"));
  int task = manager.CreateP2SPTask(nullptr, L"http://127.0.0.1/none.bin", L"C:\\none.bin");
  PrintLine(L"create %d", task);
  uint8_t record[kTaskStatusSize];
  manager.QueryTask(task, record);
  PrintLine(L"state %d", record[kTaskStatusStateOffset]);
  PrintLine(L"start %d", manager.StartTask(task));
  PrintLine(L"stop %d", manager.StopTask(task));
  PrintLine(L"uninit %d", manager.Uninit());
  return 0;
}

// Times the extraction of the engine resource, as the program does it at
// start-up, into a scratch file.
int TimeExtract(int runs) {
  std::wstring path = DownloaderConfig().GetEngineLibraryPath() + L".bench";
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  double best = 1e9;
  double total = 0;
  for (int i = 0; i < runs; ++i) {
    ::QueryPerformanceCounter(&start);
    int ok = ExtractResourceToFile(kEngineLibraryResourceId, kEngineLibraryResourceType, path);
    ::QueryPerformanceCounter(&end);
    ::DeleteFileW(path.c_str());
    if (!ok) return 1;
    double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    best = ms < best ? ms : best;
    total += ms;
  }
  PrintLine(L"  extraction of resource 120 under Wine: best %.2f ms, mean %.2f ms over %d runs", best, total / runs,
            runs);
  return 0;
}

using GetCidFn = int(__stdcall*)(wchar_t*, int);

int Cid() {
  std::wstring path = DownloaderConfig().GetIdentityLibraryPath();
  ::DeleteFileW(path.c_str());
  PrintLine(L"extract %d", ExtractResourceToFile(kIdentityLibraryResourceId, kIdentityLibraryResourceType, path));
  {
    ScopedModule module(::LoadLibraryW(path.c_str()));
    PrintLine(L"module %d", module ? 1 : 0);
    if (!module) return 1;
    auto getCid = reinterpret_cast<GetCidFn>(reinterpret_cast<void (*)()>(::GetProcAddress(module.Get(), "GetCIDW")));
    PrintLine(L"export %d", getCid ? 1 : 0);
    if (getCid) {
      for (int run = 1; run <= 2; ++run) {
        wchar_t buffer[100];
        std::wmemset(buffer, L'#', 100);
        int result = getCid(buffer, 100);
        PrintLine(L"cid%d %d %ls", run, result, buffer);
      }
      wchar_t small[20];
      std::wmemset(small, L'#', 20);
      PrintLine(L"small %d %d", getCid(small, 20), small[19] == L'#' ? 1 : 0);
    }
  }  // the library goes before its file
  ::DeleteFileW(path.c_str());
  PrintLine(L"left %d", Exists(path) ? 1 : 0);
  return 0;
}

struct Resource {
  std::wstring type;  // "#n" for a numbered type, as the update functions take it
  std::wstring name;
  WORD language;
  std::vector<char> data;
};

std::wstring ResourceKey(const wchar_t* value) {
  return IS_INTRESOURCE(value) ? L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(value)) : std::wstring(value);
}

const wchar_t* ResourceArg(const std::wstring& key) {
  return key[0] == L'#' ? MAKEINTRESOURCEW(_wtoi(key.c_str() + 1)) : key.c_str();
}

BOOL CALLBACK CollectLanguage(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language, LONG_PTR out) {
  HRSRC info = ::FindResourceExW(module, type, name, language);
  const char* data = info ? static_cast<const char*>(::LockResource(::LoadResource(module, info))) : nullptr;
  if (data) {
    reinterpret_cast<std::vector<Resource>*>(out)->push_back(
        {ResourceKey(type), ResourceKey(name), language,
         std::vector<char>(data, data + ::SizeofResource(module, info))});
  }
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, const wchar_t* type, wchar_t* name, LONG_PTR out) {
  ::EnumResourceLanguagesW(module, type, name, CollectLanguage, out);
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, wchar_t* type, LONG_PTR out) {
  ::EnumResourceNamesW(module, type, CollectName, out);
  return TRUE;
}

// Rewrites every resource of exe but the one named, which is dropped, or
// replaced by the contents of file. (Wine's UpdateResource does not delete
// a single resource, so all of them are written anew.)
int EditResource(const wchar_t* exe, const wchar_t* type, int id, const wchar_t* file) {
  std::vector<Resource> resources;
  {
    ScopedModule module(::LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return 1;
    ::EnumResourceTypesW(module.Get(), CollectType, reinterpret_cast<LONG_PTR>(&resources));
  }

  std::wstring targetName = L"#" + std::to_wstring(id);
  size_t kept = resources.size();
  for (size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].type == type && resources[i].name == targetName) kept = i;
  }
  if (kept == resources.size()) return 1;
  if (file) {
    HANDLE h = ::CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 2;
    DWORD size = ::GetFileSize(h, nullptr);
    std::vector<char> data(size);
    DWORD read = 0;
    BOOL ok = size == 0 || ::ReadFile(h, data.data(), size, &read, nullptr);
    ::CloseHandle(h);
    if (!ok || read != size) return 2;
    resources[kept].data = data;
  } else {
    resources.erase(resources.begin() + static_cast<ptrdiff_t>(kept));
  }

  HANDLE update = ::BeginUpdateResourceW(exe, TRUE);
  if (!update) return 1;
  BOOL ok = TRUE;
  for (Resource& r : resources) {
    ok = ok && ::UpdateResourceW(update, ResourceArg(r.type), ResourceArg(r.name), r.language, r.data.data(),
                                 static_cast<DWORD>(r.data.size()));
  }
  if (!::EndUpdateResourceW(update, !ok) || !ok) return 1;
  PrintLine(L"edited");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wcscmp(argv[1], L"instance") == 0) return Instance(argc, argv);
  if (argc >= 2 && std::wcscmp(argv[1], L"cid") == 0) return Cid();
  if (argc == 3 && std::wcscmp(argv[1], L"time-extract") == 0) return TimeExtract(_wtoi(argv[2]));
  if (argc == 5 && std::wcscmp(argv[1], L"remove-resource") == 0)
    return EditResource(argv[2], argv[3], _wtoi(argv[4]), nullptr);
  if (argc == 6 && std::wcscmp(argv[1], L"replace-resource") == 0)
    return EditResource(argv[2], argv[3], _wtoi(argv[4]), argv[5]);
  PrintLine(L"usage: engine_probe instance|cid|remove-resource|replace-resource ...");
  return 2;
}
