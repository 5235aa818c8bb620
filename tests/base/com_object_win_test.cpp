#include "base/com_object_win.h"

#include <gtest/gtest.h>
#include <ole2.h>

namespace {

// Two interfaces that share a base (IPersist), as the web host's site shares
// IOleWindow.
class TwoFaced : public ComObject<IPersistStream, IPersistFile> {
 public:
  explicit TwoFaced(bool* gone) : m_gone(gone) {}
  Table Interfaces() const override {
    static const Entry kTable[] = {
        Answer<IPersistStream>(IID_IPersist),
        Answer<IPersistStream>(IID_IPersistStream),
        Answer<IPersistFile>(IID_IPersistFile),
    };
    return kTable;
  }

  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP Load(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

 private:
  ~TwoFaced() override { *m_gone = true; }
  bool* m_gone;
};

TEST(ComObject, EachIdentifierIsAnsweredByItsBaseAndOthersAreRefused) {
  bool gone = false;
  auto* object = new TwoFaced(&gone);
  IUnknown* identity = static_cast<IPersistStream*>(object);
  const struct {
    const char* name;
    const IID& iid;
    void* expected;
  } cases[] = {
      {"IUnknown", IID_IUnknown, identity},
      {"IPersist", IID_IPersist, static_cast<IPersistStream*>(object)},
      {"IPersistStream", IID_IPersistStream, static_cast<IPersistStream*>(object)},
      {"IPersistFile", IID_IPersistFile, static_cast<IPersistFile*>(object)},
      {"IDispatch", IID_IDispatch, nullptr},
      {"IStream", IID_IStream, nullptr},
  };
  for (const auto& c : cases) {
    void* out = reinterpret_cast<void*>(1);
    const HRESULT hr = identity->QueryInterface(c.iid, &out);
    EXPECT_EQ(hr, c.expected ? S_OK : E_NOINTERFACE) << c.name;
    EXPECT_EQ(out, c.expected) << c.name;
    if (out) static_cast<IUnknown*>(out)->Release();
  }
  // Every interface leads back to the same identity.
  IUnknown* again = nullptr;
  ASSERT_EQ(static_cast<IPersistFile*>(object)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, identity);
  EXPECT_EQ(identity->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  // The creator's reference plus `again`; the answers above were released.
  EXPECT_EQ(again->Release(), 1u);
  EXPECT_FALSE(gone);
  EXPECT_EQ(identity->Release(), 0u);
  EXPECT_TRUE(gone) << "the last release deletes the object";
}

}  // namespace
