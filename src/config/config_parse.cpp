#include "config/config_parse.h"

#include <cwctype>
#include <limits>

const wchar_t kDefaultNewVersionDownloaderLink[] = L"http://www.brenva.com/downloader/";

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

// Takes the text before the first comma and removes it with the comma.
// Nothing is taken or removed when there is no comma.
std::wstring TakeItem(std::wstring& list) {
  size_t comma = list.find(L',');
  if (comma == std::wstring::npos) return std::wstring();
  std::wstring item = list.substr(0, comma);
  list.erase(0, comma + 1);
  return item;
}

long long CommaPos(const std::wstring& list) {
  size_t p = list.find(L',');
  return p == std::wstring::npos ? -1 : static_cast<long long>(p);
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return i == a.size() && b[i] == 0;
}

bool IsDeviceName(const std::wstring& name) {
  // Windows maps these to devices whatever the extension.
  std::wstring stem = name.substr(0, name.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* d : kDevices) {
    if (EqualsNoCase(stem, d)) return true;
  }
  if (stem.size() == 4 && (EqualsNoCase(stem.substr(0, 3), L"COM") || EqualsNoCase(stem.substr(0, 3), L"LPT")) &&
      stem[3] >= L'1' && stem[3] <= L'9') {
    return true;
  }
  return false;
}

}  // namespace

uint64_t ParseSizeText(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  uint64_t value = 0;
  const uint64_t kMax = std::numeric_limits<uint64_t>::max();
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - L'0');
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

std::wstring FileNameOfLink(const std::wstring& link) {
  size_t slash = link.rfind(L'/');
  return slash == std::wstring::npos ? link : link.substr(slash + 1);
}

bool IsSafeFileName(const std::wstring& name) {
  if (name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 32 || c == 127) return false;
    switch (c) {
      case L'\\':
      case L'/':
      case L':':
      case L'*':
      case L'?':
      case L'"':
      case L'<':
      case L'>':
      case L'|':
        return false;
      default:
        break;
    }
  }
  return !IsDeviceName(name);
}

std::vector<GameFileEntry> SplitFileLists(std::wstring sizes, std::wstring links, std::wstring md5s) {
  std::vector<GameFileEntry> files;
  long long pS = CommaPos(sizes), pL = CommaPos(links), pM = CommaPos(md5s);
  while (pS > 0 || pL > 0 || pM > 0) {
    GameFileEntry entry;
    std::wstring size = TakeItem(sizes);
    if (!size.empty()) entry.size = ParseSizeText(size);
    std::wstring link = TakeItem(links);
    if (!link.empty()) entry.downloadLink = link;
    std::wstring md5 = TakeItem(md5s);
    if (!md5.empty()) entry.md5Text = md5;
    files.push_back(entry);
    pS = CommaPos(sizes);
    pL = CommaPos(links);
    pM = CommaPos(md5s);
  }
  GameFileEntry last;
  if (!sizes.empty()) last.size = ParseSizeText(sizes);
  last.downloadLink = links;
  last.md5Text = md5s;
  files.push_back(last);
  return files;
}

bool ParseConfiguration(const ConfigLookup& lookup, ConfigValues& v) {
  v.files.clear();
  auto read = [&](const wchar_t* section, const wchar_t* key, std::wstring& out) {
    out = lookup(section, key);
    return !out.empty();
  };

  if (!read(L"GameConfig", L"GameName", v.gameName)) return false;
  std::wstring sizes, links, md5s;
  if (!read(L"GameConfig", L"GameSize", sizes)) return false;
  if (!read(L"GameConfig", L"GameDownloadLink", links)) return false;
  read(L"GameConfig", L"GameMd5", md5s);

  std::vector<GameFileEntry> files = SplitFileLists(sizes, links, md5s);
  for (const GameFileEntry& f : files) {
    std::wstring name = FileNameOfLink(f.downloadLink);
    // An empty name only makes that entry unusable later; anything that could
    // escape the save directory is refused here.
    if (!name.empty() && !IsSafeFileName(name)) return false;
  }
  v.files = std::move(files);

  if (v.files.size() >= 2 && !read(L"GameConfig", L"GameStart", v.gameStart)) return false;
  read(L"GameConfig", L"SeedUrl", v.seedUrl);
  read(L"DownLoader", L"SkinLink", v.skinLink);
  if (!read(L"DownLoader", L"NewVersion", v.newVersion)) return false;
  if (!read(L"DownLoader", L"NewVersionDownloaderLink", v.newVersionDownloaderLink)) {
    v.newVersionDownloaderLink = kDefaultNewVersionDownloaderLink;
  }
  read(L"DownLoader", L"EmbedLink2", v.embedLink2);
  read(L"Gardbox", L"GardboxDownloaderLink", v.gardboxDownloaderLink);
  read(L"Gardbox", L"safecheck", v.safecheck);
  read(L"GameConfig", L"GameVersion", v.gameVersion);
  read(L"DownLoader", L"GardBoxInstallTip", v.gardBoxInstallTip);
  read(L"DownLoader", L"TextPromotionTitle", v.textPromotionTitle);
  read(L"DownLoader", L"TextPromotionLink", v.textPromotionLink);
  read(L"Gardbox", L"CancelDownloadTips", v.cancelDownloadTips);
  read(L"Gardbox", L"DomainName", v.domainName);
  return true;
}
