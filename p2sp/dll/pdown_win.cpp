// pdown.exe: the same words as the native pdown (see cli/pdown_args.h).
// Drives TarnP2SP.dll (beside this program) through its exports only, the way
// the downloader does. Exit status: 0 finished, 5 download failed, 6 check
// failed, 2 bad arguments or no engine, 3 interrupted (progress kept).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "cli/pdown_args.h"
#include "contract/engine_contract.h"
#include "core/text.h"

namespace {

using InitFn = int(__cdecl*)(int);
using UninitFn = void(__cdecl*)();
using SetOptionFn = int(__cdecl*)(int, const void*, int);
using CreateFn = int(__cdecl*)(HWND, const wchar_t*, const wchar_t*);
using QueryFn = int(__cdecl*)(int, void*);
using TaskFn = int(__cdecl*)(int);

volatile LONG g_interrupted = 0;

BOOL WINAPI OnCtrl(DWORD) {
  InterlockedExchange(&g_interrupted, 1);
  return TRUE;
}

int Usage() {
  std::fprintf(stderr, "%s", p2sp::kPdownUsage);
  return 2;
}

template <typename T>
T Bind(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  p2sp::PdownArgs<wchar_t> args;
  if (!p2sp::ParsePdownArgs(argc, argv, &args)) return Usage();
  const std::wstring& seed = args.seed;
  const std::wstring& link = args.link;
  const std::wstring& target = args.target;
  const int connections = args.connections, stall = args.stallSeconds, retries = args.retries;
  const bool quiet = args.quiet;

  wchar_t self[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dll(self, n);
  dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"TarnP2SP.dll";
  HMODULE module = ::LoadLibraryW(dll.c_str());
  if (!module) {
    std::fprintf(stderr, "pdown: cannot load %s\n", p2sp::WideToUtf8(dll).c_str());
    return 2;
  }
  auto init = Bind<InitFn>(module, "Init");
  auto uninit = Bind<UninitFn>(module, "Uninit");
  auto setOption = Bind<SetOptionFn>(module, "SetP2spOption");
  auto create = Bind<CreateFn>(module, "CreateP2SPTask");
  auto query = Bind<QueryFn>(module, "QueryTask");
  auto start = Bind<TaskFn>(module, "StartTask");
  auto stop = Bind<TaskFn>(module, "StopTask");
  if (!init || !uninit || !setOption || !create || !query || !start || !stop) {
    std::fprintf(stderr, "pdown: the engine lacks an export\n");
    return 2;
  }
  init(0);
  namespace ec = engine_contract;
  if (!seed.empty()) setOption(ec::kOptionSeedUrl, seed.data(), static_cast<int>(seed.size() * 2));
  int32_t v;
  if (connections > 0) setOption(ec::kOptionMaxConnections, &(v = connections), 4);
  if (stall > 0) setOption(ec::kOptionStallSeconds, &(v = stall), 4);
  if (retries >= 0) setOption(ec::kOptionRetries, &(v = retries), 4);
  setOption(ec::kOptionPeerSharing, &(v = args.share ? 1 : 0), 4);
  if (args.uploadCap >= 0) setOption(ec::kOptionUploadCap, &(v = args.uploadCap), 4);
  if (args.maxSpeed > 0) setOption(ec::kOptionDownloadCap, &(v = args.maxSpeed), 4);
  if (args.peersServed > 0) setOption(ec::kOptionMaxPeersServed, &(v = args.peersServed), 4);
  if (!args.shareOn.empty())
    setOption(ec::kOptionShareAddress, args.shareOn.data(), static_cast<int>(args.shareOn.size() * 2));
  ::SetConsoleCtrlHandler(OnCtrl, TRUE);

  int task = create(nullptr, link.c_str(), target.c_str());
  if (task <= 0 || start(task) != 1) {
    std::fprintf(stderr, "pdown: the engine refused the task\n");
    uninit();
    return 5;
  }
  uint8_t record[ec::kStatusRecordSize];
  uint8_t state = 0;
  ec::StatusFields status;
  for (int ticks = 1;; ++ticks) {
    ::Sleep(20);
    std::memset(record, 0, sizeof record);
    query(task, record);
    status = ec::DecodeStatus(record);
    state = status.state;
    if (!quiet && (ticks % 25 == 0 || state != ec::kStateRunning)) {
      std::string line = p2sp::ProgressLine(status.done, status.total, uint64_t{status.linkSpeed} + status.otherSpeed);
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (g_interrupted) {
      stop(task);
      uninit();
      return 3;
    }
    if (state != ec::kStateRunning) break;
  }
  for (int waited = 0; state == ec::kStateFinished && waited < args.lingerSeconds * 10 && !g_interrupted; ++waited)
    ::Sleep(100);
  std::memset(record, 0, sizeof record);
  query(task, record);
  status = ec::DecodeStatus(record);
  std::printf("%s\n", p2sp::PdownSummary(status.done, status.peerBytes, status.servedBytes).c_str());
  std::fflush(stdout);
  uninit();
  if (state == ec::kStateFinished) return 0;
  return state == ec::kStateDamaged ? 6 : 5;
}
