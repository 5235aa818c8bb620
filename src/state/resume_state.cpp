#include "state/resume_state.h"

#include <climits>
#include <cstdio>
#include <cwctype>
#include <utility>
#include <vector>

#include "config/config_parse.h"
#include "contract/engine_contract.h"

namespace {

const wchar_t kKeyDir[] = L"Dir";
// Written in this spelling and read in the other; the private-profile
// functions ignore case, and older files may hold either.
const wchar_t kKeyInstallCompanionWrite[] = L"DlGD";
const wchar_t kKeyInstallCompanionRead[] = L"DLGD";
const wchar_t kKeyCompanionSize[] = L"GDSize";
const wchar_t kKeyTotalTime[] = L"DownloadTotalTime";
// The player's own choices: kept when the download state is reset.
const wchar_t kKeyPeerSharing[] = L"PeerSharing";
const wchar_t kKeySpeedCap[] = L"SpeedCap";  // bytes per second, 0 none
const wchar_t kKeyStepAside[] = L"StepAside";  // 1: slow down while a game is full-screen
const wchar_t* const kPlayerChoiceKeys[] = {kKeyPeerSharing, kKeySpeedCap, kKeyStepAside};

// Anything the private-profile functions hand back for the small keys fits;
// longer junk is cut like a fixed buffer would cut it.
constexpr size_t kMaxValueChars = 259;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f'; }

// A listed file that could be named inside the directory at all.
bool UsableName(const std::wstring& name) { return StaysInFolder(name); }

void RestartFromFirstItem(const std::vector<GameFileEntry>& fileList, ResumeProgress& progress) {
  progress.completedBytes = 0;
  progress.pendingItems.assign(fileList.begin(), fileList.end());
}

// A listed file of the folder and, with `sideFiles`, what the engine keeps
// beside it: its side file, and data it set aside to read.
void DeleteGameFile(IResumeFiles& files, const std::wstring& path, bool sideFiles) {
  std::vector<std::wstring> doomed{path};
  if (sideFiles) {
    doomed.push_back(engine_contract::SideFilePath(path));
    doomed.push_back(engine_contract::OldSideFilePath(path));
  }
  for (const std::wstring& file : doomed) {
    if (files.PathExists(file)) files.DeletePath(file);
  }
}

}  // namespace

long long ParseProfileInteger(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  unsigned long long value = 0;
  const unsigned long long limit = negative ? static_cast<unsigned long long>(LLONG_MAX) + 1 : LLONG_MAX;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    unsigned digit = static_cast<unsigned>(text[i] - L'0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = value * 10 + digit;
  }
  if (!negative) return static_cast<long long>(value);
  return value == static_cast<unsigned long long>(LLONG_MAX) + 1 ? LLONG_MIN : -static_cast<long long>(value);
}

std::wstring CResumeState::ReadKey(const wchar_t* key, const wchar_t* defaultValue) {
  bool tooLong = false;
  return m_store.Read(key, defaultValue, kMaxValueChars, &tooLong);
}

void CResumeState::ResetResumeFile() {
  // A new download forgets the old one's state, not what the player chose.
  std::vector<std::pair<const wchar_t*, std::wstring>> kept;
  if (m_store.Exists()) {
    for (const wchar_t* key : kPlayerChoiceKeys) {
      std::wstring value = ReadKey(key, L"");
      if (!value.empty()) kept.emplace_back(key, std::move(value));
    }
  }
  m_store.Reset();
  for (const auto& choice : kept) m_store.Write(choice.first, choice.second);
}

void CResumeState::SavePeerSharing(bool on) {
  if (m_store.Exists()) m_store.Write(kKeyPeerSharing, on ? L"1" : L"0");
}

bool CResumeState::LoadPeerSharing() {
  if (!m_store.Exists()) return true;
  return ReadKey(kKeyPeerSharing, L"1") != L"0";
}

void CResumeState::SaveStepAside(bool on) {
  if (m_store.Exists()) m_store.Write(kKeyStepAside, on ? L"1" : L"0");
}

bool CResumeState::LoadStepAside() {
  if (!m_store.Exists()) return true;
  return ReadKey(kKeyStepAside, L"1") != L"0";
}

void CResumeState::SaveSpeedCap(uint32_t bytesPerSecond) {
  if (m_store.Exists()) m_store.Write(kKeySpeedCap, std::to_wstring(bytesPerSecond));
}

uint32_t CResumeState::LoadSpeedCap() {
  if (!m_store.Exists()) return 0;
  const long long value = ParseProfileInteger(ReadKey(kKeySpeedCap, L"0"));
  return value > 0 && value <= 0x7FFFFFFF ? static_cast<uint32_t>(value) : 0;
}

void CResumeState::SaveDownloadDir(const std::wstring& dir) {
  if (m_store.Exists()) m_store.Write(kKeyDir, dir);
}

std::wstring CResumeState::LoadDownloadDir() {
  if (!m_store.Exists()) return std::wstring();
  bool tooLong = false;
  std::wstring dir = m_store.Read(kKeyDir, L"", kMaxStoredDirChars, &tooLong);
  // A cut directory name may well name another existing folder, whose files
  // would then be judged and deleted as ours.
  if (tooLong) return std::wstring();
  // File names are joined straight onto it: C:\games must not turn
  // setup.exe into C:\gamessetup.exe. The separator follows the one the
  // name already uses.
  if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') {
    const bool slashes = dir.find(L'\\') == std::wstring::npos && dir.find(L'/') != std::wstring::npos;
    dir += slashes ? L'/' : L'\\';
  }
  return dir;
}

void CResumeState::SaveInstallGardbox(int checkState) {
  if (!m_store.Exists()) return;
  wchar_t text[16];
  std::swprintf(text, 16, L"%d", checkState);
  m_store.Write(kKeyInstallCompanionWrite, text);
}

bool CResumeState::LoadInstallGardbox(bool checkBoxState) {
  if (!m_store.Exists()) return checkBoxState;
  return ReadKey(kKeyInstallCompanionRead, L"") == L"1";
}

void CResumeState::SaveGardboxSize(uint64_t size) {
  if (!m_store.Exists()) return;
  // The file has always held the low 32 bits as a signed number.
  wchar_t text[16];
  std::swprintf(text, 16, L"%ld", static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(size))));
  m_store.Write(kKeyCompanionSize, text);
}

uint64_t CResumeState::LoadGardboxSize() {
  if (!m_store.Exists()) return kDefaultCompanionSize;
  // Negative texts are sizes of 2 GiB and more written as signed numbers.
  uint32_t size =
      static_cast<uint32_t>(static_cast<unsigned long long>(ParseProfileInteger(ReadKey(kKeyCompanionSize, L""))));
  return size == 0 ? kDefaultCompanionSize : size;
}

void CResumeState::SaveDownloadTotalTime(uint64_t milliseconds) {
  if (!m_store.Exists()) return;
  wchar_t text[32];
  std::swprintf(text, 32, L"%llu", static_cast<unsigned long long>(milliseconds));
  m_store.Write(kKeyTotalTime, text);
}

uint64_t CResumeState::LoadDownloadTotalTime() {
  if (!m_store.Exists()) return 0;
  return ParseSizeText(ReadKey(kKeyTotalTime, L"0"));
}

int DetectResumeState(CResumeState& state, IResumeFiles& files, const std::vector<GameFileEntry>& fileList,
                      const std::wstring& safecheck, ResumeProgress& progress) {
  const std::wstring dir = state.LoadDownloadDir();
  if (dir.empty() || !files.PathExists(dir)) return ResumeNone;

  const bool withMd5 = safecheck == L"1";
  bool someComplete = false;
  for (size_t i = 0; i < fileList.size(); ++i) {
    const GameFileEntry& entry = fileList[i];
    const bool last = i + 1 == fileList.size();
    progress.currentItem = entry;
    const std::wstring name = FileNameOfLink(entry.downloadLink);
    if (!UsableName(name)) continue;
    const std::wstring path = dir + name;

    if (files.PathExists(path)) {
      bool complete = files.IsFileComplete(path, entry.size);
      if (complete && withMd5) complete = files.VerifyFileMd5(path, entry.md5Text);
      if (!complete) {
        // The download starts over; what is here waits for the engine, which
        // keeps whatever pieces of it are right.
        HoldDownloadedFiles(dir, fileList, true, progress);
        RestartFromFirstItem(fileList, progress);
        progress.saveDir = dir;
        return ResumeNone;
      }
      if (withMd5 && last) {
        // The last file stays pending: the window shows it as the file to
        // install or open.
        progress.saveDir = dir;
        return ResumeComplete;
      }
      if (!progress.pendingItems.empty()) progress.pendingItems.pop_front();
      progress.completedBytes += entry.size;
      someComplete = true;
      if (last) {
        progress.saveDir = dir;
        return ResumeComplete;
      }
      if (!withMd5 && files.PathExists(engine_contract::SideFilePath(path))) {
        progress.saveDir = dir;
        return ResumePartial;
      }
      continue;
    }
    if (files.PathExists(engine_contract::SideFilePath(path))) {
      progress.saveDir = dir;
      return ResumePartial;
    }
  }
  if (!someComplete) return ResumeNone;
  progress.saveDir = dir;
  return ResumeSomeComplete;
}

void DeleteDownloadedFiles(CResumeState& state, IResumeFiles& files, const std::vector<GameFileEntry>& fileList,
                           ResumeProgress& progress) {
  const std::wstring dir = state.LoadDownloadDir();
  if (dir.empty() || !files.PathExists(dir)) return;
  for (const GameFileEntry& entry : fileList) {
    progress.currentItem = entry;
    const std::wstring name = FileNameOfLink(entry.downloadLink);
    if (UsableName(name)) DeleteGameFile(files, dir + name, true);
  }
}

void HoldDownloadedFiles(const std::wstring& dir, const std::vector<GameFileEntry>& fileList, bool withSideFiles,
                         ResumeProgress& progress) {
  progress.heldDir = dir;
  progress.heldSideFiles = withSideFiles;
  progress.heldNames.clear();
  for (const GameFileEntry& entry : fileList) {
    progress.currentItem = entry;
    const std::wstring name = FileNameOfLink(entry.downloadLink);
    if (UsableName(name)) progress.heldNames.insert(name);
  }
}

void DropHeldFiles(IResumeFiles& files, ResumeProgress& progress) {
  if (!progress.heldDir.empty() && files.PathExists(progress.heldDir)) {
    for (const std::wstring& name : progress.heldNames) {
      DeleteGameFile(files, progress.heldDir + name, progress.heldSideFiles);
    }
  }
  progress.heldDir.clear();
  progress.heldNames.clear();
  progress.heldSideFiles = false;
}

bool IsHeldDir(const ResumeProgress& progress, const std::wstring& dir) {
  auto folded = [](std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return path;
  };
  return !progress.heldDir.empty() && !dir.empty() && folded(progress.heldDir) == folded(dir);
}

void DeleteAllIfAnyMissing(CResumeState& state, IResumeFiles& files, const std::vector<GameFileEntry>& fileList,
                           ResumeProgress& progress) {
  for (const GameFileEntry& entry : fileList) {
    if (!files.PathExists(progress.saveDir + FileNameOfLink(entry.downloadLink))) {
      DeleteDownloadedFiles(state, files, fileList, progress);
      RestartFromFirstItem(fileList, progress);
      return;
    }
  }
}
