#pragma once

// Small owners for Win32 handles, so that no function cleans up by hand.
#include <windows.h>
#include <wininet.h>

#include <utility>

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;
  ScopedHandle() = default;
  explicit ScopedHandle(Handle h) : m_h(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& o) noexcept : m_h(o.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  Handle Get() const { return m_h; }
  bool Valid() const { return Traits::Valid(m_h); }
  explicit operator bool() const { return Valid(); }
  Handle Release() { return std::exchange(m_h, Traits::Null()); }
  void Reset(Handle h = Traits::Null()) {
    if (Traits::Valid(m_h)) Traits::Close(m_h);
    m_h = h;
  }

 private:
  Handle m_h = Traits::Null();
};

struct KernelHandleTraits {  // CreateMutex, CreateThread, CreateEvent...
  using Handle = HANDLE;
  static Handle Null() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
struct FileHandleTraits : KernelHandleTraits {  // CreateFile answers INVALID_HANDLE_VALUE
  static Handle Null() { return INVALID_HANDLE_VALUE; }
};
struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Null() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::InternetCloseHandle(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Null() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};
struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Null() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Null() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::RegCloseKey(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFile = ScopedHandle<FileHandleTraits>;
using ScopedInternet = ScopedHandle<InternetHandleTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;

// GetDC / ReleaseDC bracket.
class ScopedGetDC {
 public:
  explicit ScopedGetDC(HWND hwnd) : m_hwnd(hwnd), m_dc(::GetDC(hwnd)) {}
  ~ScopedGetDC() {
    if (m_dc) ::ReleaseDC(m_hwnd, m_dc);
  }
  ScopedGetDC(const ScopedGetDC&) = delete;
  ScopedGetDC& operator=(const ScopedGetDC&) = delete;
  HDC Get() const { return m_dc; }

 private:
  HWND m_hwnd;
  HDC m_dc;
};
