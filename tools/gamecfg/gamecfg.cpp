#include "gamecfg.h"

#include <map>
#include <set>

#include "config/config_parse.h"
#include "config/first_item.h"
#include "config/profile_text.h"
#include "config/version_text.h"
#include "core/metalink.h"
#include "core/sha256.h"
#include "verify/file_check.h"

#ifndef GAMECFG_BUILD_VERSION
#define GAMECFG_BUILD_VERSION "1.1.0.1010"
#endif

namespace {

const char kUsage[] =
    "usage:\n"
    "  gamecfg make --name NAME --base-url URL [--start FILE] [--new-version V]\n"
    "               [--new-version-link URL] [--safecheck 0|1] [--seed-url URL] [--skin-link URL]\n"
    "               [--embed-link URL] [--companion-link URL] [--domain URL] [--game-version TEXT]\n"
    "               [--install-tip TEXT] [--promotion-title TEXT] [--promotion-link URL]\n"
    "               [--companion FILE] [--no-meta4] [--mirror URL]... [--no-peers] [-o OUT] FILE...\n"
    "  gamecfg check CONFIG\n"
    "  gamecfg md5 FILE\n"
    "  gamecfg verify CONFIG DIR\n";

// A delivered copy always carries its game key; the configuration alone
// decides whether the first item is usable.
const wchar_t kAnyGameKey[] = L"{game key}";

std::string U8(const std::wstring& text) { return WideToUtf8(text); }
std::wstring W(const std::string& text) { return Utf8ToWide(text); }

struct Reporter {
  IGamecfgHost& host;
  void Error(const std::string& text) { host.Err("gamecfg: error: " + text + "\n"); }
  void Warning(const std::string& text) { host.Err("gamecfg: warning: " + text + "\n"); }
};

bool IsLowerHex32(const std::wstring& text) {
  if (text.size() != 32) return false;
  for (wchar_t c : text) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

size_t ItemCount(const std::wstring& list) {
  size_t n = 1;
  for (wchar_t c : list) n += c == L',';
  return n;
}

// ---- reading a configuration ------------------------------------------------

bool LoadProfile(IGamecfgHost& host, Reporter& report, const std::string& path, std::wstring* text) {
  std::string bytes;
  if (!host.ReadWholeFile(path, &bytes)) {
    report.Error("cannot read " + path);
    return false;
  }
  DecodedProfile decoded = DecodeProfileBytes(bytes);
  switch (decoded.encoding) {
    case ProfileEncoding::kUtf16Le:
      break;
    case ProfileEncoding::kUtf16Be:
      report.Error(path +
                   " is UTF-16 big-endian, which the program on Windows does not read; save it as UTF-16LE "
                   "with a byte-order mark");
      return false;
    case ProfileEncoding::kUtf8WithBom:
      report.Warning(path +
                     " starts with a UTF-8 byte-order mark; Windows does not recognise it and reads the mark as "
                     "part of the first line, so a section named on line 1 is lost. Save it as UTF-16LE with a "
                     "byte-order mark");
      [[fallthrough]];
    case ProfileEncoding::kNoMark:
      if (decoded.nonAscii) {
        report.Warning(path +
                       " has non-ASCII bytes but no UTF-16 byte-order mark: the player's Windows reads them in "
                       "its own code page, so names like the game's may come out garbled. Save it as UTF-16LE "
                       "with a byte-order mark");
      }
      if (decoded.invalidUtf8) report.Warning(path + " is not valid UTF-8; the bad bytes are shown as U+FFFD here");
      break;
  }
  *text = decoded.text;
  return true;
}

struct CheckOutcome {
  bool parsed = false;
  bool accepted = false;
  bool listSplit = false;
  ConfigValues values;
  std::vector<GameFileEntry> files;
};

CheckOutcome CheckDocument(const ProfileDocument& doc, Reporter& report) {
  CheckOutcome outcome;
  std::wstring lastSection, lastKey, lastValue;
  bool linksRead = false;
  auto lookup = [&](const wchar_t* section, const wchar_t* key) {
    lastSection = section;
    lastKey = key;
    lastValue = doc.Lookup(section, key);
    if (lastKey == L"GameMd5") linksRead = true;
    return lastValue;
  };
  outcome.parsed = ParseConfiguration(lookup, outcome.values);

  if (!outcome.values.droppedCompanion.empty()) {
    report.Warning(U8(outcome.values.droppedCompanion) + ": the program runs no companion");
  }

  std::wstring sizes = doc.Lookup(L"GameConfig", L"GameSize");
  std::wstring links = doc.Lookup(L"GameConfig", L"GameDownloadLink");
  std::wstring md5s = doc.Lookup(L"GameConfig", L"GameMd5");
  outcome.listSplit = linksRead;
  if (outcome.listSplit) {
    outcome.files = outcome.values.files.empty() ? SplitFileLists(sizes, links, md5s) : outcome.values.files;
  }

  if (!outcome.parsed) {
    if (!outcome.values.refusal.empty()) {
      report.Error(U8(outcome.values.refusal) + "; the program refuses this configuration");
    } else {
      std::string why = lastKey == L"GameStart" ? " (required when the file list has two or more entries)" : "";
      report.Error("required key " + U8(lastKey) + " in section [" + U8(lastSection) + "] is missing or empty" + why);
    }
  }

  if (outcome.listSplit) {
    const std::wstring safecheck = doc.Lookup(L"Gardbox", L"safecheck");
    if (ItemCount(sizes) != ItemCount(links) || (!md5s.empty() && ItemCount(md5s) != ItemCount(sizes))) {
      report.Warning("the lists differ in length: GameSize has " + std::to_string(ItemCount(sizes)) +
                     " items, GameDownloadLink " + std::to_string(ItemCount(links)) + ", GameMd5 " +
                     std::to_string(md5s.empty() ? 0 : ItemCount(md5s)) + "; they are paired by position");
    }
    std::set<std::wstring> names;
    for (size_t i = 0; i < outcome.files.size(); ++i) {
      const GameFileEntry& f = outcome.files[i];
      const std::string which = "entry " + std::to_string(i + 1) + ": ";
      const std::wstring name = FileNameOfLink(f.downloadLink);
      if (name.empty()) report.Warning(which + "no file name in its download link");
      if (f.size == 0) report.Warning(which + "size 0, which the program never accepts");
      if (!f.md5Text.empty() && !IsLowerHex32(f.md5Text)) {
        report.Warning(which + "MD5 text \"" + U8(f.md5Text) +
                       "\" is not 32 lower-case hexadecimal digits; the file check never matches it");
      } else if (f.md5Text.empty() && safecheck == L"1") {
        report.Warning(which + "no MD5 text while safecheck is 1: the file check of this file always fails");
      }
      if (!name.empty() && !names.insert(name).second) {
        report.Warning(which + "file name \"" + U8(name) + "\" is listed twice");
      }
    }
    if (outcome.parsed && outcome.files.size() >= 2 && !names.count(outcome.values.gameStart)) {
      report.Warning("GameStart \"" + U8(outcome.values.gameStart) + "\" is not one of the listed file names");
    }
  }

  if (outcome.parsed) {
    const std::wstring buildVersion = W(GAMECFG_BUILD_VERSION);
    if (IsOlderVersion(outcome.values.newVersion, buildVersion)) {
      report.Warning("NewVersion \"" + U8(outcome.values.newVersion) + "\": downloaders of version " +
                     GAMECFG_BUILD_VERSION + " count as older and send the player to NewVersionDownloaderLink");
    }
    if (!IsFirstDownloadItemUsable(outcome.values.files, kAnyGameKey)) {
      report.Error(
          "the first file cannot be downloaded: it needs a download link ending in a file name and a "
          "size other than 0");
    } else {
      outcome.accepted = true;
    }
  }
  for (const std::wstring& s : doc.RepeatedSections()) {
    report.Warning("section [" + U8(s) + "] appears again; only its first occurrence is read");
  }
  for (const auto& k : doc.RepeatedKeys()) {
    report.Warning("key " + U8(k.second) + " appears again in [" + U8(k.first) + "]; the first one is read");
  }
  return outcome;
}

std::string FileListText(const std::vector<GameFileEntry>& files) {
  std::string out;
  for (const GameFileEntry& f : files) {
    out += std::to_string(f.size) + "\t" + U8(f.downloadLink) + "\t" + U8(f.md5Text) + "\t" +
           U8(FileNameOfLink(f.downloadLink)) + "\n";
  }
  return out;
}

int RunCheck(const std::vector<std::string>& args, IGamecfgHost& host, Reporter& report) {
  if (args.size() != 1) {
    host.Err(kUsage);
    return 2;
  }
  std::wstring text;
  if (!LoadProfile(host, report, args[0], &text)) return 2;
  CheckOutcome outcome = CheckDocument(ProfileDocument(text), report);
  host.Out(FileListText(outcome.files));
  if (outcome.accepted) return 0;
  report.Error(args[0] + " would be refused by the program");
  return 1;
}

// ---- manifests ----------------------------------------------------------------

// The manifest of `path`: the whole file's SHA-256 and one per piece, read
// piece by piece so that a large file never sits in memory.
bool MakeManifest(IGamecfgHost& host, const std::string& path, uint64_t size, p2sp::Manifest* m) {
  m->size = size;
  m->pieceLength = p2sp::kDefaultPieceLength;
  p2sp::Sha256 whole, piece;
  std::string bytes;
  for (uint64_t i = 0; i < m->PieceCount(); ++i) {
    const size_t want = static_cast<size_t>(m->PieceEnd(i) - m->PieceBegin(i));
    if (!host.ReadFileAt(path, m->PieceBegin(i), want, &bytes) || bytes.size() != want) return false;
    whole.Update(bytes.data(), bytes.size());
    piece.Update(bytes.data(), bytes.size());
    p2sp::Sha256Digest d;
    if (!piece.Final(&d)) return false;
    m->pieces.push_back(p2sp::Sha256Text(d));
  }
  p2sp::Sha256Digest d;
  if (!whole.Final(&d)) return false;
  m->sha256 = p2sp::Sha256Text(d);
  return true;
}

// "" when every piece of `path` matches; else what is wrong, naming the
// first piece that differs.
std::string ManifestProblem(IGamecfgHost& host, const std::string& path, const std::string& metaPath,
                            uint64_t size) {
  std::string text;
  if (!host.ReadWholeFile(metaPath, &text)) return "cannot read " + metaPath;
  p2sp::Manifest m;
  std::string why;
  if (!p2sp::ParseMetalink(text, &m, &why)) return "manifest unusable: " + why;
  if (m.size != size) return "manifest names " + std::to_string(m.size) + " bytes";
  std::string bytes;
  p2sp::Sha256 whole, piece;
  for (uint64_t i = 0; i < m.PieceCount(); ++i) {
    const uint64_t b = m.PieceBegin(i), e = m.PieceEnd(i);
    if (!host.ReadFileAt(path, b, static_cast<size_t>(e - b), &bytes) || bytes.size() != e - b)
      return "cannot read piece " + std::to_string(i);
    whole.Update(bytes.data(), bytes.size());
    piece.Update(bytes.data(), bytes.size());
    p2sp::Sha256Digest d;
    if (!piece.Final(&d) || p2sp::Sha256Text(d) != m.pieces[i]) {
      return "piece " + std::to_string(i) + " (bytes " + std::to_string(b) + "-" + std::to_string(e - 1) +
             ") differs";
    }
  }
  p2sp::Sha256Digest d;
  if (!whole.Final(&d) || p2sp::Sha256Text(d) != m.sha256) return "whole-file SHA-256 differs";
  return std::string();
}

// ---- md5 and verify ---------------------------------------------------------

int RunMd5(const std::vector<std::string>& args, IGamecfgHost& host, Reporter& report) {
  if (args.size() != 1) {
    host.Err(kUsage);
    return 2;
  }
  Md5Digest digest;
  bool ok = host.FileMd5(args[0], &digest);
  host.Out(FormatMd5Text(digest) + "\n");
  if (ok) return 0;
  bool regular = false;
  uint64_t size = 0;
  if (host.StatFile(args[0], &regular, &size) && regular && size == 0) {
    report.Warning(args[0] + " is empty");
    return 0;
  }
  report.Error("cannot read " + args[0]);
  return 1;
}

int RunVerify(const std::vector<std::string>& args, IGamecfgHost& host, Reporter& report) {
  if (args.size() != 2) {
    host.Err(kUsage);
    return 2;
  }
  std::wstring text;
  if (!LoadProfile(host, report, args[0], &text)) return 2;
  CheckOutcome outcome = CheckDocument(ProfileDocument(text), report);
  if (!outcome.accepted) {
    report.Error(args[0] + " would be refused by the program; nothing verified");
    return 1;
  }
  const bool md5Always = outcome.values.safecheck == L"1";
  int bad = 0;
  for (const GameFileEntry& f : outcome.values.files) {
    const std::string name = U8(FileNameOfLink(f.downloadLink));
    const std::string path = host.JoinPath(args[1], name);
    bool regular = false;
    uint64_t size = 0;
    std::string line;
    if (name.empty() || !host.StatFile(path, &regular, &size) || !regular) {
      line = "missing\t" + name;
    } else if (!IsCompleteSize(size, f.size)) {
      line = "size\t" + name + "\texpected " + std::to_string(f.size) + ", found " + std::to_string(size);
    } else if (md5Always || !f.md5Text.empty()) {
      // Without safecheck "1" the program accepts by size alone, but the
      // download itself is still checked against the listed text.
      Md5Digest digest;
      host.FileMd5(path, &digest);
      if (Md5TextMatches(digest, f.md5Text)) {
        line = "ok\t" + name;
      } else {
        line = "md5\t" + name + "\texpected " + U8(f.md5Text) + ", found " + FormatMd5Text(digest);
      }
    } else {
      line = "ok\t" + name + "\tsize only: no MD5 text listed";
    }
    // With a manifest beside the file, every piece as the engine checks it.
    const std::string metaPath = path + ".meta4";
    bool metaRegular = false;
    uint64_t metaSize = 0;
    if (line.compare(0, 3, "ok\t") == 0 && host.StatFile(metaPath, &metaRegular, &metaSize) && metaRegular) {
      std::string problem = ManifestProblem(host, path, metaPath, size);
      if (problem.empty()) {
        line = "ok\t" + name + "\tevery piece matches " + name + ".meta4";
      } else {
        line = "pieces\t" + name + "\t" + problem;
      }
    }
    if (line.compare(0, 3, "ok\t") != 0) ++bad;
    host.Out(line + "\n");
  }
  return bad == 0 ? 0 : 1;
}

// ---- make -------------------------------------------------------------------

struct MakeOption {
  const char* flag;
  const wchar_t* section;
  const wchar_t* key;
};

// The optional values in the order they are written.
const MakeOption kValueOptions[] = {
    {"--seed-url", L"GameConfig", L"SeedUrl"},
    {"--game-version", L"GameConfig", L"GameVersion"},
    {"--skin-link", L"DownLoader", L"SkinLink"},
    {"--new-version-link", L"DownLoader", L"NewVersionDownloaderLink"},
    {"--embed-link", L"DownLoader", L"EmbedLink2"},
    {"--install-tip", L"DownLoader", L"GardBoxInstallTip"},
    {"--promotion-title", L"DownLoader", L"TextPromotionTitle"},
    {"--promotion-link", L"DownLoader", L"TextPromotionLink"},
    {"--companion-link", L"Gardbox", L"GardboxDownloaderLink"},
    {"--domain", L"Gardbox", L"DomainName"},
};

bool IsBlankChar(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f' || c == 0x1a; }

// Values that the profile functions would trim or unquote are written inside
// one pair of quotation marks, which the reader removes again.
std::wstring ProtectValue(const std::wstring& value) {
  if (value.empty()) return value;
  bool trimmed = IsBlankChar(value.front()) || IsBlankChar(value.back());
  bool quoted = value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front();
  return trimmed || quoted ? L"\"" + value + L"\"" : value;
}

struct Written {
  std::wstring section, key, value;
};

std::string ProblemWithName(const std::wstring& name) {
  if (name.empty()) return "has no file name";
  if (!IsSafeFileName(name)) return "is a file name the program refuses";
  if (name.find(L',') != std::wstring::npos) return "contains \",\", which separates the configuration's lists";
  if (name.find(L'#') != std::wstring::npos) return "contains \"#\", which ends the path of a download link";
  if (IsBlankChar(name.front()) || IsBlankChar(name.back()) || name.back() == L'.') {
    return "begins or ends with a blank or ends with \".\", which Windows drops from file names";
  }
  return std::string();
}

int RunMake(const std::vector<std::string>& args, IGamecfgHost& host, Reporter& report) {
  std::map<std::string, std::string> options;
  std::vector<std::string> files;
  std::vector<std::string> mirrors;
  bool writeMeta4 = true;
  bool peerSharing = true;
  std::set<std::string> known = {"--name", "--base-url", "--start", "--new-version", "--safecheck", "--companion", "-o"};
  for (const MakeOption& o : kValueOptions) known.insert(o.flag);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--no-meta4") {
      writeMeta4 = false;
      continue;
    }
    if (a == "--no-peers") {
      peerSharing = false;
      continue;
    }
    if (a == "--mirror") {
      if (i + 1 >= args.size() || args[i + 1].find("://") == std::string::npos) {
        report.Error("--mirror needs a URL");
        return 2;
      }
      mirrors.push_back(args[++i]);
      if (mirrors.back().back() != '/') mirrors.back() += '/';
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      if (!known.count(a)) {
        report.Error("unknown option " + a);
        host.Err(kUsage);
        return 2;
      }
      if (i + 1 >= args.size()) {
        report.Error(a + " needs a value");
        return 2;
      }
      if (options.count(a)) {
        report.Error(a + " is given twice");
        return 2;
      }
      options[a] = args[++i];
    } else {
      files.push_back(a);
    }
  }
  if (options["--name"].empty() || options["--base-url"].empty() || files.empty()) {
    report.Error("make needs --name, --base-url and at least one file");
    host.Err(kUsage);
    return 2;
  }
  std::string safecheck = options.count("--safecheck") ? options["--safecheck"] : "1";
  if (safecheck != "0" && safecheck != "1") {
    report.Error("--safecheck must be 0 or 1");
    return 2;
  }
  std::wstring baseUrl = W(options["--base-url"]);
  if (baseUrl.find(L',') != std::wstring::npos) {
    report.Error("--base-url must not contain \",\", which separates the configuration's lists");
    return 2;
  }
  if (baseUrl.back() != L'/') baseUrl += L'/';

  std::vector<GameFileEntry> entries;
  std::set<std::wstring> names;
  for (const std::string& path : files) {
    const std::wstring name = W(host.BaseName(path));
    std::string problem = ProblemWithName(name);
    if (!problem.empty()) {
      report.Error(path + " " + problem);
      return 2;
    }
    if (!names.insert(name).second) {
      report.Error("two files are named \"" + U8(name) + "\"; the program saves every file under its name");
      return 2;
    }
    bool regular = false;
    uint64_t size = 0;
    if (!host.StatFile(path, &regular, &size) || !regular) {
      report.Error("cannot read " + path);
      return 2;
    }
    if (size == 0) {
      report.Error(path + " is empty; the program never accepts a file of size 0");
      return 2;
    }
    Md5Digest digest;
    if (!host.FileMd5(path, &digest)) {
      report.Error("cannot read " + path);
      return 2;
    }
    GameFileEntry entry;
    entry.size = size;
    entry.downloadLink = baseUrl + name;
    entry.md5Text = W(FormatMd5Text(digest));
    entries.push_back(entry);
    if (name.find_first_of(L" %") != std::wstring::npos || WideToUtf8(name).size() != name.size()) {
      report.Warning("\"" + U8(name) +
                     "\" has blanks, \"%\" or non-ASCII letters; make sure the server answers "
                     "the link as written: " +
                     U8(entry.downloadLink));
    }
  }

  std::wstring start;
  if (options.count("--start")) {
    start = W(host.BaseName(options["--start"]));
    if (!names.count(start)) {
      report.Error("--start " + options["--start"] + " is not one of the files");
      return 2;
    }
  } else if (entries.size() > 1) {
    report.Error("several files need --start, the installer to run after the download");
    return 2;
  }

  std::wstring sizes, links, md5s;
  for (size_t i = 0; i < entries.size(); ++i) {
    const wchar_t* sep = i ? L"," : L"";
    sizes += sep + std::to_wstring(entries[i].size);
    links += sep + entries[i].downloadLink;
    md5s += sep + entries[i].md5Text;
  }
  std::vector<Written> written = {
      {L"GameConfig", L"GameName", W(options["--name"])},
      {L"GameConfig", L"GameSize", sizes},
      {L"GameConfig", L"GameDownloadLink", links},
      {L"GameConfig", L"GameMd5", md5s},
  };
  if (!start.empty()) written.push_back({L"GameConfig", L"GameStart", start});
  if (!peerSharing) written.push_back({L"GameConfig", L"PeerSharing", L"0"});
  written.push_back({L"DownLoader", L"NewVersion",
                     W(options.count("--new-version") ? options["--new-version"] : GAMECFG_BUILD_VERSION)});
  written.push_back({L"Gardbox", L"safecheck", W(safecheck)});
  for (const MakeOption& o : kValueOptions) {
    if (options.count(o.flag)) written.push_back({o.section, o.key, W(options[o.flag])});
  }
  if (options.count("--companion")) {
    // The program runs the companion silently only when it matches this.
    Md5Digest digest;
    bool regular = false;
    uint64_t size = 0;
    if (!host.StatFile(options["--companion"], &regular, &size) || !regular ||
        !host.FileMd5(options["--companion"], &digest)) {
      report.Error("cannot read " + options["--companion"]);
      return 2;
    }
    written.push_back({L"Gardbox", L"GardboxMd5", W(FormatMd5Text(digest))});
  }

  std::wstring text;
  for (const wchar_t* section : {L"GameConfig", L"DownLoader", L"Gardbox"}) {
    text += L"[" + std::wstring(section) + L"]\r\n";
    for (const Written& w : written) {
      if (w.section != section) continue;
      if (w.value.find_first_of(L"\r\n", 0) != std::wstring::npos || w.value.find(L'\0') != std::wstring::npos) {
        report.Error("the value of " + U8(w.key) + " must be one line");
        return 2;
      }
      if (w.value.empty()) {
        report.Error("the value of " + U8(w.key) + " is empty, which the program reads as missing");
        return 2;
      }
      text += w.key + L"=" + ProtectValue(w.value) + L"\r\n";
    }
  }
  const std::string bytes = EncodeUtf16LeWithMark(text);

  // Read the result back the way the program will, so that nothing written
  // here is understood differently there.
  ProfileDocument doc(DecodeProfileBytes(bytes).text);
  for (const Written& w : written) {
    std::wstring back = doc.Lookup(w.section.c_str(), w.key.c_str());
    if (back != w.value) {
      report.Error("the value of " + U8(w.key) + " would be read back as \"" + U8(back) + "\"");
      return 2;
    }
  }
  ConfigValues values;
  if (!ParseConfiguration([&doc](const wchar_t* s, const wchar_t* k) { return doc.Lookup(s, k); }, values) ||
      values.files != entries || !IsFirstDownloadItemUsable(values.files, kAnyGameKey)) {
    report.Error("the file list would not be read back as written");
    return 2;
  }

  if (!mirrors.empty() && !writeMeta4) {
    report.Error("--mirror goes into the manifests, which --no-meta4 leaves out");
    return 2;
  }
  for (size_t i = 0; writeMeta4 && i < files.size(); ++i) {
    p2sp::Manifest m;
    m.name = host.BaseName(files[i]);
    if (!MakeManifest(host, files[i], entries[i].size, &m)) {
      report.Error("cannot read " + files[i]);
      return 2;
    }
    for (const std::string& base : mirrors) m.urls.push_back(base + m.name);
    if (!host.WriteWholeFile(files[i] + ".meta4", p2sp::WriteMetalink(m))) {
      report.Error("cannot write " + files[i] + ".meta4");
      return 2;
    }
  }

  if (options.count("-o")) {
    if (!host.WriteWholeFile(options["-o"], bytes)) {
      report.Error("cannot write " + options["-o"]);
      return 2;
    }
  } else {
    host.Out(bytes);
  }
  return 0;
}

}  // namespace

int RunGamecfg(const std::vector<std::string>& args, IGamecfgHost& host) {
  Reporter report{host};
  if (args.empty()) {
    host.Err(kUsage);
    return 2;
  }
  const std::string& command = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "make") return RunMake(rest, host, report);
  if (command == "check") return RunCheck(rest, host, report);
  if (command == "md5") return RunMd5(rest, host, report);
  if (command == "verify") return RunVerify(rest, host, report);
  if (command == "--help" || command == "-h" || command == "help") {
    host.Out(kUsage);
    return 0;
  }
  report.Error("unknown command " + command);
  host.Err(kUsage);
  return 2;
}
