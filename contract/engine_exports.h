#pragma once

// The thirteen exports of the engine DLL, with the one set of signatures that
// the program's binder, the engine, the stand-in engine, pdown.exe and the
// test probe all use. All are cdecl. Init, Uninit, SetP2spOption, QueryTask
// and RemoveTask return nothing: no caller has ever read a result of theirs.
// The five that the program binds but never calls return 0.
#include <cstddef>
#include <type_traits>

#if defined(_WIN32)
#define GD_ENGINE_CALL __cdecl
#else
#define GD_ENGINE_CALL
#endif

namespace engine_contract {

using InitFn = void(GD_ENGINE_CALL*)(int reserved);
using UninitFn = void(GD_ENGINE_CALL*)();
using SetP2spOptionFn = void(GD_ENGINE_CALL*)(int option, const void* value, int bytes);
// notifyWindow is an HWND, or null. Task identifier (> 0), or 0.
using CreateP2SPTaskFn = int(GD_ENGINE_CALL*)(void* notifyWindow, const wchar_t* url, const wchar_t* path);
// record: kStatusRecordSize bytes that the caller has zeroed.
using QueryTaskFn = void(GD_ENGINE_CALL*)(int taskId, void* record);
// 1 when the task was started (stopped).
using StartStopTaskFn = int(GD_ENGINE_CALL*)(int taskId);
using RemoveTaskFn = void(GD_ENGINE_CALL*)(int taskId);
using UnusedExportFn = int(GD_ENGINE_CALL*)();

// The thirteen exports in the order they are looked up: name and pointer type.
#define GD_ENGINE_EXPORT_LIST(X)      \
  X(Init, InitFn)                     \
  X(Login, UnusedExportFn)            \
  X(Uninit, UninitFn)                 \
  X(CreateP2SPTask, CreateP2SPTaskFn) \
  X(QueryTask, QueryTaskFn)           \
  X(StartTask, StartStopTaskFn)       \
  X(StopTask, StartStopTaskFn)        \
  X(StopSeed, UnusedExportFn)         \
  X(GetFinishMessage, UnusedExportFn) \
  X(RemoveTask, RemoveTaskFn)         \
  X(SetConfigInfo, UnusedExportFn)    \
  X(UpdateRegInfo, UnusedExportFn)    \
  X(SetP2spOption, SetP2spOptionFn)

// The thirteen entry points, in the order the program keeps them.
struct EngineExports {
  InitFn Init = nullptr;
  UnusedExportFn Login = nullptr;
  UninitFn Uninit = nullptr;
  CreateP2SPTaskFn CreateP2SPTask = nullptr;
  QueryTaskFn QueryTask = nullptr;
  UnusedExportFn StopSeed = nullptr;
  UnusedExportFn GetFinishMessage = nullptr;
  RemoveTaskFn RemoveTask = nullptr;
  UnusedExportFn SetConfigInfo = nullptr;
  UnusedExportFn UpdateRegInfo = nullptr;
  SetP2spOptionFn SetP2spOption = nullptr;
  StartStopTaskFn StartTask = nullptr;
  StartStopTaskFn StopTask = nullptr;

  // True when all thirteen are there.
  bool Complete() const {
#define GD_ENGINE_EXPORT_PRESENT(name, type) &&name
    return true GD_ENGINE_EXPORT_LIST(GD_ENGINE_EXPORT_PRESENT);
#undef GD_ENGINE_EXPORT_PRESENT
  }
};

// The export names in the order they are looked up.
constexpr size_t kExportCount = 13;
#define GD_ENGINE_EXPORT_NAME(name, type) #name,
constexpr const char* kExportNames[kExportCount] = {GD_ENGINE_EXPORT_LIST(GD_ENGINE_EXPORT_NAME)};
#undef GD_ENGINE_EXPORT_NAME

// Fills `exports` from `lookup(name)`, which answers a generic function
// pointer (void(*)()) or null, in the order of kExportNames.
template <typename Lookup>
void ResolveExports(Lookup&& lookup, EngineExports* exports) {
#define GD_ENGINE_EXPORT_BIND(name, type) exports->name = reinterpret_cast<type>(lookup(#name));
  GD_ENGINE_EXPORT_LIST(GD_ENGINE_EXPORT_BIND)
#undef GD_ENGINE_EXPORT_BIND
}

}  // namespace engine_contract

// A module that defines the exports (the engine DLL and its stand-in) defines
// GD_ENGINE_DEFINES_EXPORTS before it includes this file: its definitions
// then have to match these declarations, or it does not compile.
#if defined(_WIN32) && defined(GD_ENGINE_DEFINES_EXPORTS)
// Each is declared through its pointer type, so the two cannot part.
#define GD_ENGINE_EXPORT_DECLARE(name, type) \
  extern "C" __declspec(dllexport) std::remove_pointer_t<engine_contract::type> name;
GD_ENGINE_EXPORT_LIST(GD_ENGINE_EXPORT_DECLARE)
#undef GD_ENGINE_EXPORT_DECLARE
#endif
