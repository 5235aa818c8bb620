// Drives the engine DLL through its exports and prints what the status record
// says, for the Wine tests:
//   engine_dll_probe exports DLL
//   engine_dll_probe run DLL LINK PATH STOP_AFTER_BYTES [SEED]
// "run" prints "first DONE TOTAL STATE" for the first record that knows the size;
// with STOP_AFTER_BYTES > 0 it stops the task once that much is done and prints
// "stopped DONE TOTAL STATE START STOP", else "end STATE DONE TOTAL SPEEDSEEN".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "contract/engine_contract.h"
#include "contract/engine_exports.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HMODULE dll = ::LoadLibraryW(argv[2]);
  if (!dll) {
    std::printf("load failed\n");
    return 1;
  }
  if (std::wcscmp(argv[1], L"exports") == 0) {
    for (const char* name : engine_contract::kExportNames)
      std::printf("export %s %d\n", name, ::GetProcAddress(dll, name) ? 1 : 0);
    return 0;
  }
  if (std::wcscmp(argv[1], L"run") != 0 || argc < 6) return 2;
  engine_contract::EngineExports engine;
  engine_contract::ResolveExports(
      [dll](const char* name) { return reinterpret_cast<void (*)()>(::GetProcAddress(dll, name)); }, &engine);
  uint64_t stopAfter = std::wcstoull(argv[5], nullptr, 10);
  engine.Init(0);
  namespace ec = engine_contract;
  if (argc > 6) {
    const std::u16string seed = ec::EncodeOptionText(argv[6]);
    engine.SetP2spOption(ec::kOptionSeedUrl, seed.data(), ec::OptionTextBytes(seed));
  }
  int task = engine.CreateP2SPTask(nullptr, argv[3], argv[4]);
  std::printf("task %d\n", task);
  int started = engine.StartTask(task);
  uint8_t record[ec::kStatusRecordSize];
  bool first = true;
  uint32_t speedSeen = 0;
  for (int i = 0; i < 1200; ++i) {
    std::memset(record, 0, sizeof record);
    engine.QueryTask(task, record);
    const ec::TaskStatus status = ec::DecodeStatus(record);
    uint64_t total = status.total, done = status.done;
    uint8_t state = status.state;
    uint32_t speed = status.linkSpeed + status.otherSpeed;
    if (speed > speedSeen) speedSeen = speed;
    if (first && (total > 0 || state != 0)) {
      std::printf("first %llu %llu %u\n", static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                  state);
      first = false;
    }
    if (stopAfter > 0 && done >= stopAfter) {
      int stopped = engine.StopTask(task);
      ::Sleep(300);
      std::memset(record, 0, sizeof record);
      engine.QueryTask(task, record);
      const ec::TaskStatus after = ec::DecodeStatus(record);
      std::printf("stopped %llu %llu %u %d %d\n", static_cast<unsigned long long>(after.done),
                  static_cast<unsigned long long>(after.total), after.state, started, stopped);
      engine.RemoveTask(task);
      engine.Uninit();
      return 0;
    }
    if (state != 0) {
      std::printf("end %u %llu %llu %u\n", state, static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total), speedSeen);
      engine.Uninit();
      return 0;
    }
    ::Sleep(50);
  }
  std::printf("timeout\n");
  engine.Uninit();
  return 1;
}
