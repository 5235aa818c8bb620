#pragma once

// The one reference count and QueryInterface of the program's own COM objects.
// A class derives from ComObject<its interfaces...> and lists, in a table,
// which of them answers for which interface identifier:
//
//   class CSink : public ComObject<IDispatch> {
//     Table Interfaces() const override {
//       static const Entry kTable[] = {Answer<IDispatch>(IID_IDispatch)};
//       return kTable;
//     }
//   };
//
// IUnknown is answered by the first interface. An object starts with the one
// reference its creator holds (hand it to ComPtr) and deletes itself when the
// last is released. Not thread-safe: the objects live on the UI thread.
#include <objbase.h>

#include <cstddef>

template <typename First, typename... Rest>
class ComObject : public First, public Rest... {
 public:
  struct Entry {
    const IID* iid;
    void* (*answer)(ComObject*);
  };
  struct Table {
    template <size_t N>
    Table(const Entry (&entries)[N]) : begin(entries), end(entries + N) {}  // NOLINT: implicit on purpose
    const Entry* begin;
    const Entry* end;
  };

  // The row of a table: `iid` is answered by the base `Interface`.
  template <typename Interface>
  static Entry Answer(const IID& iid) {
    return Entry{&iid, [](ComObject* self) -> void* { return static_cast<Interface*>(self); }};
  }

  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown) {
      *out = static_cast<First*>(this);
    } else {
      const Table table = Interfaces();
      for (const Entry* e = table.begin; e != table.end && !*out; ++e) {
        if (riid == *e->iid) *out = e->answer(this);
      }
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  virtual Table Interfaces() const = 0;

 private:
  ULONG m_refs = 1;
};
