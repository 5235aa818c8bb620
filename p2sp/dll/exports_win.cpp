// The engine DLL: the thirteen exports of contract/engine_exports.h over the
// portable engine. Every export returns at once; transfers run on the tasks'
// own threads.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "base/scoped_win.h"

#define GD_ENGINE_DEFINES_EXPORTS
#include "contract/engine_exports.h"

#include "core/engine.h"
#include "core/text.h"

namespace {

p2sp::Engine& TheEngine() {
  // Never destroyed: at process exit the loader has already ended the task
  // threads, and joining them from DllMain would deadlock.
  static p2sp::Engine* engine = new p2sp::Engine();
  return *engine;
}

// Task threads run this module's code, so while any may run the engine holds
// a reference to its own module: a host that frees the library without
// calling Uninit first then leaves it loaded instead of pulling the code from
// under those threads. Uninit joins every thread and gives the reference
// back, so a host that shuts down properly can unload and delete the file.
std::mutex g_selfMutex;
HMODULE g_selfReference = nullptr;

void HoldModule() {
  std::lock_guard<std::mutex> lock(g_selfMutex);
  if (g_selfReference) return;
  HMODULE self = nullptr;
  if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&HoldModule), &self)) {
    g_selfReference = self;
  }
}

void ReleaseModule() {
  // The host still holds its own reference while it is inside Uninit, so
  // giving ours back never unloads the code that is running it.
  ScopedModule self;
  std::lock_guard<std::mutex> lock(g_selfMutex);
  self.Reset(std::exchange(g_selfReference, nullptr));
}

std::string Utf8(const wchar_t* text) { return text ? p2sp::WideToUtf8(text) : std::string(); }

}  // namespace

extern "C" {

void GD_ENGINE_CALL Init(int) { TheEngine().Init(); }

void GD_ENGINE_CALL Uninit() {
  TheEngine().Uninit();
  ReleaseModule();
}

void GD_ENGINE_CALL SetP2spOption(int option, const void* value, int bytes) {
  TheEngine().SetOption(option, value, bytes);
}

int GD_ENGINE_CALL CreateP2SPTask(void*, const wchar_t* url, const wchar_t* path) {
  return TheEngine().CreateTask(Utf8(url), Utf8(path));
}

void GD_ENGINE_CALL QueryTask(int task, void* record) {
  if (!record) return;
  p2sp::TaskProgress status;
  if (TheEngine().QueryTask(task, &status)) engine_contract::EncodeStatus(status, static_cast<uint8_t*>(record));
}

int GD_ENGINE_CALL StartTask(int task) {
  HoldModule();
  return TheEngine().StartTask(task);
}

int GD_ENGINE_CALL StopTask(int task) { return TheEngine().StopTask(task); }

void GD_ENGINE_CALL RemoveTask(int task) { TheEngine().RemoveTask(task); }

// Part of the interface the host binds, with nothing behind them here.
int GD_ENGINE_CALL Login() { return 0; }
int GD_ENGINE_CALL StopSeed() { return 0; }
int GD_ENGINE_CALL GetFinishMessage() { return 0; }
int GD_ENGINE_CALL SetConfigInfo() { return 0; }
int GD_ENGINE_CALL UpdateRegInfo() { return 0; }

}  // extern "C"
