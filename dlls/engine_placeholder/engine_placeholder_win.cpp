// A stand-in for the download engine until the real one is built into the
// program: it has the engine's thirteen exports with their calling
// convention and answers as an engine that holds no tasks. It downloads
// nothing.
#include <windows.h>

#include <cstring>

namespace {
constexpr size_t kStatusStateOffset = 69;
constexpr unsigned char kStateFailedDownload = 5;
}  // namespace

extern "C" {

__declspec(dllexport) void __cdecl Init(int) {}
__declspec(dllexport) void __cdecl Uninit() {}
__declspec(dllexport) void __cdecl SetP2spOption(int, const void*, int) {}

// No task can be made, so every identifier the program holds is unknown here.
__declspec(dllexport) int __cdecl CreateP2SPTask(HWND, const wchar_t*, const wchar_t*) { return 0; }

// An unknown task reads as a failed download rather than as one that runs
// forever at zero bytes.
__declspec(dllexport) void __cdecl QueryTask(int, void* record) {
  if (record) static_cast<unsigned char*>(record)[kStatusStateOffset] = kStateFailedDownload;
}

__declspec(dllexport) int __cdecl StartTask(int) { return 0; }
__declspec(dllexport) int __cdecl StopTask(int) { return 0; }
__declspec(dllexport) void __cdecl RemoveTask(int) {}

// Bound by the program but never called.
__declspec(dllexport) int __cdecl Login() { return 0; }
__declspec(dllexport) int __cdecl StopSeed() { return 0; }
__declspec(dllexport) int __cdecl GetFinishMessage() { return 0; }
__declspec(dllexport) int __cdecl SetConfigInfo() { return 0; }
__declspec(dllexport) int __cdecl UpdateRegInfo() { return 0; }

}  // extern "C"
