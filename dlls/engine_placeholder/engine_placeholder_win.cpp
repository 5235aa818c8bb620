// A stand-in for the download engine until the real one is built into the
// program: it has the engine's thirteen exports with their calling
// convention and answers as an engine that holds no tasks. It downloads
// nothing.
#include <windows.h>

#include <cstdint>

#include "contract/engine_contract.h"
#define GD_ENGINE_DEFINES_EXPORTS
#include "contract/engine_exports.h"

extern "C" {

void GD_ENGINE_CALL Init(int) {}
void GD_ENGINE_CALL Uninit() {}
void GD_ENGINE_CALL SetP2spOption(int, const void*, int) {}

// No task can be made, so every identifier the program holds is unknown here.
int GD_ENGINE_CALL CreateP2SPTask(void*, const wchar_t*, const wchar_t*) { return 0; }

// An unknown task reads as a failed download rather than as one that runs
// forever at zero bytes.
void GD_ENGINE_CALL QueryTask(int, void* record) {
  if (record) static_cast<uint8_t*>(record)[engine_contract::kStateOffset] = engine_contract::kTaskStateFailedDownload;
}

int GD_ENGINE_CALL StartTask(int) { return 0; }
int GD_ENGINE_CALL StopTask(int) { return 0; }
void GD_ENGINE_CALL RemoveTask(int) {}

// Bound by the program but never called.
int GD_ENGINE_CALL Login() { return 0; }
int GD_ENGINE_CALL StopSeed() { return 0; }
int GD_ENGINE_CALL GetFinishMessage() { return 0; }
int GD_ENGINE_CALL SetConfigInfo() { return 0; }
int GD_ENGINE_CALL UpdateRegInfo() { return 0; }

}  // extern "C"
