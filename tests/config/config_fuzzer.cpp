// libFuzzer entry: any bytes as a fetched configuration, read the way
// `gamecfg check` reads it. Beyond not crashing (and staying linear, which the
// fuzzer's timeout watches), an accepted configuration names nothing that
// leaves its folder.
#include <cstdlib>
#include <string>

#include "config/config_parse.h"
#include "config/profile_text.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool EmptyOrInFolder(const std::wstring& name) { return name.empty() || StaysInFolder(name); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ProfileDocument doc(DecodeProfileBytes(std::string(reinterpret_cast<const char*>(data), size)).text);
  doc.RepeatedKeys();
  doc.RepeatedSections();
  ConfigValues values;
  const bool accepted = ParseConfiguration(
      [&doc](const wchar_t* section, const wchar_t* key) { return doc.Lookup(section, key); }, values);
  if (!accepted) return 0;
  Require(values.refusal.empty());
  for (const GameFileEntry& f : values.files) {
    const std::wstring name = FileNameOfLink(f.downloadLink);
    Require(EmptyOrInFolder(name));
    Require(name.find_first_of(L"/?#") == std::wstring::npos);
  }
  if (values.files.size() >= 2) Require(StaysInFolder(values.gameStart));
  Require(EmptyOrInFolder(FileNameOfLink(values.companionLink)));
  return 0;
}
