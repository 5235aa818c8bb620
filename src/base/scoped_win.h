#pragma once

// Small owners for Win32 handles, so that no function cleans up by hand.
#include <objbase.h>
#include <wincrypt.h>
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

// A handle kind: its type and the call that closes it; null means none.
template <typename H, auto CloseFn>
struct CloseWith {
  using Handle = H;
  static Handle Null() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { CloseFn(h); }
};

// CreateMutex, CreateThread, CreateEvent... answer null on failure, CreateFile
// INVALID_HANDLE_VALUE; neither is ever closed.
struct KernelHandleTraits : CloseWith<HANDLE, &::CloseHandle> {
  static bool Valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
};
struct FileHandleTraits : KernelHandleTraits {
  static Handle Null() { return INVALID_HANDLE_VALUE; }
};
inline BOOL CloseCertStore(HCERTSTORE store) { return ::CertCloseStore(store, 0); }

using InternetHandleTraits = CloseWith<HINTERNET, &::InternetCloseHandle>;
using ModuleTraits = CloseWith<HMODULE, &::FreeLibrary>;
using GdiObjectTraits = CloseWith<HGDIOBJ, &::DeleteObject>;
using RegKeyTraits = CloseWith<HKEY, &::RegCloseKey>;
using MemoryDCTraits = CloseWith<HDC, &::DeleteDC>;  // CreateCompatibleDC
using MenuTraits = CloseWith<HMENU, &::DestroyMenu>;
using CertContextTraits = CloseWith<PCCERT_CONTEXT, &::CertFreeCertificateContext>;
using CertChainTraits = CloseWith<PCCERT_CHAIN_CONTEXT, &::CertFreeCertificateChain>;
using CertStoreTraits = CloseWith<HCERTSTORE, &CloseCertStore>;

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFile = ScopedHandle<FileHandleTraits>;
using ScopedInternet = ScopedHandle<InternetHandleTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedMemoryDC = ScopedHandle<MemoryDCTraits>;
using ScopedMenu = ScopedHandle<MenuTraits>;
using ScopedCertContext = ScopedHandle<CertContextTraits>;
using ScopedCertChain = ScopedHandle<CertChainTraits>;
using ScopedCertStore = ScopedHandle<CertStoreTraits>;

// Deletes a GDI object whose ownership arrives through an interface that
// only passes the handle (fonts and images of the skin services).
inline void DeleteGdiObject(HGDIOBJ object) { ScopedGdiObject owned(object); }

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

// Selects an object into a DC for one scope and puts the old one back. A null
// object selects nothing.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(dc && object ? ::SelectObject(dc, object) : nullptr) {}
  ~ScopedSelectObject() {
    if (m_old) ::SelectObject(m_dc, m_old);
  }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_old;
};

// CoInitializeEx / CoUninitialize pair; uninitializes only what it initialized.
class ScopedCoInit {
 public:
  explicit ScopedCoInit(DWORD model = COINIT_APARTMENTTHREADED) : m_hr(::CoInitializeEx(nullptr, model)) {}
  ~ScopedCoInit() {
    if (SUCCEEDED(m_hr)) ::CoUninitialize();
  }
  ScopedCoInit(const ScopedCoInit&) = delete;
  ScopedCoInit& operator=(const ScopedCoInit&) = delete;
  bool Succeeded() const { return SUCCEEDED(m_hr); }

 private:
  HRESULT m_hr;
};

// Holds one reference to a COM object.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* adopted) : m_p(adopted) {}  // takes over a reference the caller holds
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : m_p(o.Detach()) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) Reset(o.Detach());
    return *this;
  }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  T** Put() {
    Reset();
    return &m_p;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Reset(T* adopted = nullptr) {
    T* old = std::exchange(m_p, adopted);
    if (old) old->Release();
  }
  template <typename U>
  HRESULT As(ComPtr<U>* out) const {
    return m_p ? m_p->QueryInterface(__uuidof(U), out->PutVoid()) : E_POINTER;
  }

 private:
  T* m_p = nullptr;
};

// Memory that a COM or shell function allocated with the task allocator.
template <typename T>
class ScopedTaskMem {
 public:
  ScopedTaskMem() = default;
  explicit ScopedTaskMem(T* p) : m_p(p) {}
  ~ScopedTaskMem() { ::CoTaskMemFree(m_p); }
  ScopedTaskMem(const ScopedTaskMem&) = delete;
  ScopedTaskMem& operator=(const ScopedTaskMem&) = delete;
  T* Get() const { return m_p; }
  T** Put() {
    ::CoTaskMemFree(std::exchange(m_p, nullptr));
    return &m_p;
  }

 private:
  T* m_p = nullptr;
};

// Selects a font, text colour and transparent background for one scope and
// puts the old ones back.
class ScopedTextStyle {
 public:
  ScopedTextStyle(HDC dc, HGDIOBJ font, COLORREF color)
      : m_dc(dc), m_font(dc, font), m_oldColor(::SetTextColor(dc, color)), m_oldMode(::SetBkMode(dc, TRANSPARENT)) {}
  ~ScopedTextStyle() {
    ::SetTextColor(m_dc, m_oldColor);
    ::SetBkMode(m_dc, m_oldMode);
  }
  ScopedTextStyle(const ScopedTextStyle&) = delete;
  ScopedTextStyle& operator=(const ScopedTextStyle&) = delete;

 private:
  HDC m_dc;
  ScopedSelectObject m_font;
  COLORREF m_oldColor;
  int m_oldMode;
};

// A BSTR made from a wide string for one call.
class ScopedBstr {
 public:
  explicit ScopedBstr(const wchar_t* text) : m_s(::SysAllocString(text)) {}
  ~ScopedBstr() { ::SysFreeString(m_s); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR Get() const { return m_s; }

 private:
  BSTR m_s;
};
