#include "config/config_parse.h"

#include <cwctype>
#include <limits>

const wchar_t kDefaultNewVersionDownloaderLink[] = L"http://www.brenva.com/downloader/";

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

// One of the comma lists, read front to back without copying its rest: the
// next separator is found once per item, so a long list costs linear time.
class ListCursor {
 public:
  explicit ListCursor(const std::wstring& list) : m_list(list) { FindComma(); }

  // Offset of the next separator from the current position, or -1.
  long long CommaPos() const {
    return m_comma == std::wstring::npos ? -1 : static_cast<long long>(m_comma - m_pos);
  }

  // Takes the text before the next separator and moves past it. Nothing is
  // taken or moved when no separator is left.
  std::wstring TakeItem() {
    if (m_comma == std::wstring::npos) return std::wstring();
    std::wstring item = m_list.substr(m_pos, m_comma - m_pos);
    m_pos = m_comma + 1;
    FindComma();
    return item;
  }

  std::wstring Rest() const { return m_list.substr(m_pos); }

 private:
  void FindComma() { m_comma = m_list.find(L',', m_pos); }

  const std::wstring& m_list;
  size_t m_pos = 0;
  size_t m_comma = std::wstring::npos;
};

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
  // The name is what follows the last "/" of the whole link, so a script-served
  // link such as ".../dl.php?file=/game/setup.exe" names setup.exe. CDN links
  // carry tokens after "?" or "#"; they are cut from that text.
  size_t slash = link.rfind(L'/');
  std::wstring name = slash == std::wstring::npos ? link : link.substr(slash + 1);
  return name.substr(0, name.find_first_of(L"?#"));
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

bool StaysInFolder(const std::wstring& name) {
  if (name.empty()) return false;
  // A root ("\\x", "/x") or a UNC name ("\\\\host\\share") starts with a separator.
  if (name.front() == L'\\' || name.front() == L'/') return false;
  size_t start = 0;
  bool namesAFile = false;
  while (start <= name.size()) {
    size_t end = name.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = name.size();
    const std::wstring part = name.substr(start, end - start);
    // Windows drops trailing dots and blanks from each part, so ".. " and
    // "..." would climb like "..". A part "." stays where it is.
    const size_t kept = part.find_last_not_of(L". ");
    if (kept == std::wstring::npos) {
      if (!part.empty() && part != L".") return false;
    } else {
      if (!IsSafeFileName(part)) return false;
      namesAFile = true;
    }
    start = end + 1;
  }
  // "." or ".\\" alone is the folder itself, not a file in it.
  return namesAFile && name.back() != L'\\' && name.back() != L'/';
}

std::vector<GameFileEntry> SplitFileLists(std::wstring sizes, std::wstring links, std::wstring md5s) {
  std::vector<GameFileEntry> files;
  ListCursor s(sizes), l(links), m(md5s);
  while (s.CommaPos() > 0 || l.CommaPos() > 0 || m.CommaPos() > 0) {
    GameFileEntry entry;
    std::wstring size = s.TakeItem();
    if (!size.empty()) entry.size = ParseSizeText(size);
    std::wstring link = l.TakeItem();
    if (!link.empty()) entry.downloadLink = link;
    std::wstring md5 = m.TakeItem();
    if (!md5.empty()) entry.md5Text = md5;
    files.push_back(std::move(entry));
  }
  GameFileEntry last;
  const std::wstring restSizes = s.Rest();
  if (!restSizes.empty()) last.size = ParseSizeText(restSizes);
  last.downloadLink = l.Rest();
  last.md5Text = m.Rest();
  files.push_back(std::move(last));
  return files;
}

bool ParseConfiguration(const ConfigLookup& lookup, ConfigValues& v) {
  v.files.clear();
  v.refusal.clear();
  v.droppedCompanion.clear();
  auto read = [&](const wchar_t* section, const wchar_t* key, std::wstring& out) {
    out = lookup(section, key);
    return !out.empty();
  };

  // Every key is read before any value is judged, so that a refused game
  // still has its DomainName and the publisher hears why it fails.
  if (!read(L"GameConfig", L"GameName", v.gameName)) return false;
  std::wstring sizes, links, md5s;
  if (!read(L"GameConfig", L"GameSize", sizes)) return false;
  if (!read(L"GameConfig", L"GameDownloadLink", links)) return false;
  read(L"GameConfig", L"GameMd5", md5s);
  std::vector<GameFileEntry> files = SplitFileLists(sizes, links, md5s);
  const size_t fileCount = files.size();
  for (size_t i = 0; i < fileCount && v.refusal.empty(); ++i) {
    const std::wstring name = FileNameOfLink(files[i].downloadLink);
    // An empty name only makes that entry unusable later; anything that could
    // escape the save directory refuses the game once every key is read.
    if (!name.empty() && !StaysInFolder(name)) {
      v.refusal = L"entry " + std::to_wstring(i + 1) + L": file name \"" + name +
                  L"\" would leave the save directory (GameDownloadLink)";
    }
  }
  if (v.refusal.empty()) v.files = std::move(files);
  if (fileCount >= 2) {
    if (!read(L"GameConfig", L"GameStart", v.gameStart)) return false;
  }
  read(L"GameConfig", L"SeedUrl", v.seedUrl);
  read(L"DownLoader", L"SkinLink", v.skinLink);
  if (!read(L"DownLoader", L"NewVersion", v.newVersion)) return false;
  if (!read(L"DownLoader", L"NewVersionDownloaderLink", v.newVersionDownloaderLink)) {
    v.newVersionDownloaderLink = kDefaultNewVersionDownloaderLink;
  }
  read(L"DownLoader", L"EmbedLink2", v.embedLink2);
  read(L"Gardbox", L"GardboxDownloaderLink", v.companionLink);
  read(L"Gardbox", L"safecheck", v.safecheck);
  read(L"GameConfig", L"GameVersion", v.gameVersion);
  read(L"DownLoader", L"GardBoxInstallTip", v.companionInstallTip);
  read(L"DownLoader", L"TextPromotionTitle", v.textPromotionTitle);
  read(L"DownLoader", L"TextPromotionLink", v.textPromotionLink);
  read(L"Gardbox", L"CancelDownloadTips", v.cancelDownloadTips);
  read(L"Gardbox", L"DomainName", v.domainName);
  read(L"Gardbox", L"GardboxMd5", v.companionMd5);
  read(L"GameConfig", L"PeerSharing", v.peerSharing);

  // The companion is optional: one whose name would leave the temporary
  // folder it is saved in and run from is left out, not the whole game.
  const std::wstring companionName = FileNameOfLink(v.companionLink);
  if (!companionName.empty() && !StaysInFolder(companionName)) {
    v.droppedCompanion = L"file name \"" + companionName +
                         L"\" of GardboxDownloaderLink would leave the temporary folder; the companion is left out";
    v.companionLink.clear();
    v.companionMd5.clear();
  }

  if (!v.refusal.empty()) return false;
  // The installer is run from the save directory, so it is held to the same
  // rule as the files written there.
  if (fileCount >= 2 && !StaysInFolder(v.gameStart)) {
    v.refusal = L"GameStart \"" + v.gameStart + L"\" would leave the save directory";
    return false;
  }
  return true;
}
