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
#include "contract/engine_exports.h"
#include "core/text.h"

namespace {

volatile LONG g_interrupted = 0;

BOOL WINAPI OnCtrl(DWORD) {
  InterlockedExchange(&g_interrupted, 1);
  return TRUE;
}

int Usage(const p2sp::PdownArgs<wchar_t>& args) {
  if (args.badOption && !args.valueMissing)
    std::fprintf(stderr, "pdown: %s: bad value \"%s\"\n", args.badOption, p2sp::WideToUtf8(args.badValue).c_str());
  else if (args.badOption)
    std::fprintf(stderr, "pdown: %s needs a value\n", args.badOption);
  std::fprintf(stderr, "%s", p2sp::kPdownUsage);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  p2sp::PdownArgs<wchar_t> args;
  if (!p2sp::ParsePdownArgs(argc, argv, &args)) return Usage(args);
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
  engine_contract::EngineExports engine;
  engine_contract::ResolveExports(
      [module](const char* name) { return reinterpret_cast<void (*)()>(::GetProcAddress(module, name)); }, &engine);
  if (!engine.Init || !engine.Uninit || !engine.SetP2spOption || !engine.CreateP2SPTask || !engine.QueryTask ||
      !engine.StartTask || !engine.StopTask) {
    std::fprintf(stderr, "pdown: the engine lacks an export\n");
    return 2;
  }
  engine.Init(0);
  namespace ec = engine_contract;
  auto setText = [&engine](int option, const std::wstring& text) {
    const std::u16string units = ec::EncodeOptionText(text);
    engine.SetP2spOption(option, units.data(), ec::OptionTextBytes(units));
  };
  if (!seed.empty()) setText(ec::kOptionSeedUrl, seed);
  int32_t v;
  if (connections > 0) engine.SetP2spOption(ec::kOptionMaxConnections, &(v = connections), 4);
  if (stall > 0) engine.SetP2spOption(ec::kOptionStallSeconds, &(v = stall), 4);
  if (retries >= 0) engine.SetP2spOption(ec::kOptionRetries, &(v = retries), 4);
  engine.SetP2spOption(ec::kOptionPeerSharing, &(v = args.share ? 1 : 0), 4);
  if (args.uploadCap >= 0) engine.SetP2spOption(ec::kOptionUploadCap, &(v = args.uploadCap), 4);
  if (args.maxSpeed > 0) engine.SetP2spOption(ec::kOptionDownloadCap, &(v = args.maxSpeed), 4);
  if (args.discardOldTarget) engine.SetP2spOption(ec::kOptionDiscardOldTarget, &(v = 1), 4);
  if (args.peersServed > 0) engine.SetP2spOption(ec::kOptionMaxPeersServed, &(v = args.peersServed), 4);
  if (!args.shareOn.empty()) setText(ec::kOptionShareAddress, args.shareOn);
  ::SetConsoleCtrlHandler(OnCtrl, TRUE);

  int task = engine.CreateP2SPTask(nullptr, link.c_str(), target.c_str());
  if (task <= 0 || engine.StartTask(task) != 1) {
    std::fprintf(stderr, "pdown: the engine refused the task\n");
    engine.Uninit();
    return 5;
  }
  uint8_t record[ec::kStatusRecordSize];
  uint8_t state = 0;
  ec::TaskStatus status;
  for (int ticks = 1;; ++ticks) {
    ::Sleep(20);
    std::memset(record, 0, sizeof record);
    engine.QueryTask(task, record);
    status = ec::DecodeStatus(record);
    state = status.state;
    if (!quiet && (ticks % 25 == 0 || state != ec::kTaskStateRunning)) {
      std::string line = p2sp::ProgressLine(status.done, status.total, status.Speed());
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (g_interrupted) {
      engine.StopTask(task);
      engine.Uninit();
      return 3;
    }
    if (state != ec::kTaskStateRunning) break;
  }
  for (int waited = 0; state == ec::kTaskStateFinished && waited < args.lingerSeconds * 10 && !g_interrupted; ++waited)
    ::Sleep(100);
  std::memset(record, 0, sizeof record);
  engine.QueryTask(task, record);
  status = ec::DecodeStatus(record);
  std::printf("%s\n", p2sp::PdownSummary(status.done, status.peerBytes, status.servedBytes).c_str());
  std::fflush(stdout);
  engine.Uninit();
  if (state == ec::kTaskStateFinished) return 0;
  return state == ec::kTaskStateFailedCheck ? 6 : 5;
}
