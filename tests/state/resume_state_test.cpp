#include "state/resume_state.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "verify/file_check.h"
#include "verify/md5.h"

namespace fs = std::filesystem;

namespace {

// The resume file as a map; keys ignore case like the profile functions.
class MapStore : public IResumeStore {
 public:
  bool exists = true;
  std::map<std::wstring, std::wstring> values;
  int resets = 0;

  bool Exists() override { return exists; }
  void Reset() override {
    ++resets;
    exists = true;
    values.clear();
  }
  std::wstring Read(const wchar_t* key, const wchar_t* defaultValue, size_t maxChars, bool* tooLong) override {
    auto it = values.find(Lower(key));
    std::wstring value = it == values.end() ? defaultValue : it->second;
    *tooLong = value.size() > maxChars;
    return value.substr(0, maxChars);
  }
  void Write(const wchar_t* key, const std::wstring& value) override { values[Lower(key)] = value; }

  static std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
  }
};

// ---- the keys ---------------------------------------------------------------

TEST(ResumeKeys, WithoutFileEveryLoadGivesItsDefaultAndSavesWriteNothing) {
  MapStore store;
  store.exists = false;
  CResumeState state(store);
  state.SaveDownloadDir(L"D:\\games\\");
  state.SaveInstallGardbox(1);
  state.SaveGardboxSize(123);
  state.SaveDownloadTotalTime(456);
  EXPECT_TRUE(store.values.empty());
  EXPECT_EQ(state.LoadDownloadDir(), L"");
  EXPECT_TRUE(state.LoadInstallGardbox(true));
  EXPECT_FALSE(state.LoadInstallGardbox(false));
  EXPECT_EQ(state.LoadGardboxSize(), 10485760u);
  EXPECT_EQ(state.LoadDownloadTotalTime(), 0u);
}

TEST(ResumeKeys, SharingChoiceOutlivesAResetOfTheDownloadState) {
  MapStore store;
  CResumeState state(store);
  EXPECT_TRUE(state.LoadPeerSharing());
  state.SaveDownloadDir(L"D:\\games\\");
  state.SavePeerSharing(false);
  state.ResetResumeFile();
  EXPECT_FALSE(state.LoadPeerSharing());
  EXPECT_EQ(state.LoadDownloadDir(), L"");
  EXPECT_EQ(store.values.size(), 1u);
  state.SavePeerSharing(true);
  state.ResetResumeFile();
  EXPECT_TRUE(state.LoadPeerSharing());
  // A file that never existed keeps nothing and makes no key up.
  MapStore none;
  none.exists = false;
  CResumeState fresh(none);
  fresh.SavePeerSharing(false);
  EXPECT_TRUE(fresh.LoadPeerSharing());
  fresh.ResetResumeFile();
  EXPECT_TRUE(none.values.empty());
}

TEST(ResumeKeys, ValuesRoundTripThroughTheStoredTexts) {
  MapStore store;
  CResumeState state(store);
  state.SaveDownloadDir(L"D:\\游戏\\下载\\");
  state.SaveInstallGardbox(1);
  state.SaveGardboxSize(7340032);
  state.SaveDownloadTotalTime(9876543210123ULL);
  EXPECT_EQ(store.values[L"dir"], L"D:\\游戏\\下载\\");
  EXPECT_EQ(store.values[L"dlgd"], L"1");
  EXPECT_EQ(store.values[L"gdsize"], L"7340032");
  EXPECT_EQ(store.values[L"downloadtotaltime"], L"9876543210123");
  EXPECT_EQ(state.LoadDownloadDir(), L"D:\\游戏\\下载\\");
  EXPECT_TRUE(state.LoadInstallGardbox(false));
  EXPECT_EQ(state.LoadGardboxSize(), 7340032u);
  EXPECT_EQ(state.LoadDownloadTotalTime(), 9876543210123ULL);
}

TEST(ResumeKeys, InstallCompanionIsTrueOnlyForExactlyOne) {
  MapStore store;
  CResumeState state(store);
  EXPECT_FALSE(state.LoadInstallGardbox(true)) << "a file without the key";
  for (const wchar_t* text : {L"0", L"01", L"true", L"", L" 1", L"1 ", L"2"}) {
    store.values[L"dlgd"] = text;
    EXPECT_FALSE(state.LoadInstallGardbox(true)) << text;
  }
  store.values[L"dlgd"] = L"1";
  EXPECT_TRUE(state.LoadInstallGardbox(false));
  state.SaveInstallGardbox(0);
  EXPECT_FALSE(state.LoadInstallGardbox(true));
}

TEST(ResumeKeys, CompanionSizeWithoutANumberOrZeroGivesTenMebibytes) {
  MapStore store;
  CResumeState state(store);
  EXPECT_EQ(state.LoadGardboxSize(), 10485760u);
  const std::pair<const wchar_t*, uint64_t> cases[] = {
      {L"0", 10485760u}, {L"abc", 10485760u}, {L"", 10485760u}, {L"  +2048kb", 2048u},
      {L"12abc", 12u},   {L"-0", 10485760u},  {L"4096", 4096u}, {L"\t 77", 77u},
  };
  for (const auto& c : cases) {
    store.values[L"gdsize"] = c.first;
    EXPECT_EQ(state.LoadGardboxSize(), c.second) << c.first;
  }
}

TEST(ResumeKeys, CompanionSizeKeepsTheLow32BitsAcrossTheSignedText) {
  MapStore store;
  CResumeState state(store);
  state.SaveGardboxSize(3221225472ULL);  // 3 GiB: negative as a signed 32-bit number
  EXPECT_EQ(store.values[L"gdsize"], L"-1073741824");
  EXPECT_EQ(state.LoadGardboxSize(), 3221225472ULL);
  state.SaveGardboxSize((1ULL << 32) + 5);
  EXPECT_EQ(store.values[L"gdsize"], L"5");
  state.SaveGardboxSize(1ULL << 32);  // low bits 0: read as the default
  EXPECT_EQ(state.LoadGardboxSize(), 10485760u);
}

TEST(ResumeKeys, TotalTimeReadsJunkAsZero) {
  MapStore store;
  CResumeState state(store);
  EXPECT_EQ(state.LoadDownloadTotalTime(), 0u);
  store.values[L"downloadtotaltime"] = L"abc";
  EXPECT_EQ(state.LoadDownloadTotalTime(), 0u);
  store.values[L"downloadtotaltime"] = L" 42ms";
  EXPECT_EQ(state.LoadDownloadTotalTime(), 42u);
  store.values[L"downloadtotaltime"] = L"18446744073709551615";
  EXPECT_EQ(state.LoadDownloadTotalTime(), 18446744073709551615ULL);
}

TEST(ResumeKeys, ADirectoryTooLongForTheBufferIsNotCutIntoAnotherOne) {
  MapStore store;
  CResumeState state(store);
  std::wstring dir = L"C:\\" + std::wstring(255, L'a') + L"\\";  // 259 characters
  state.SaveDownloadDir(dir);
  EXPECT_EQ(state.LoadDownloadDir(), dir);
  state.SaveDownloadDir(L"C:\\" + std::wstring(256, L'a') + L"\\");
  EXPECT_EQ(state.LoadDownloadDir(), L"");
}

// ---- detection over real folders -----------------------------------------

class FileReader : public IReadableFile {
 public:
  explicit FileReader(const fs::path& path) : m_file(path, std::ios::binary) {}
  bool Seek(uint64_t offset) override {
    m_file.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(m_file);
  }
  bool Read(void* buffer, size_t length, size_t* got) override {
    if (!m_file.is_open()) return false;
    m_file.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
    *got = static_cast<size_t>(m_file.gcount());
    return !m_file.bad();
  }

 private:
  std::ifstream m_file;
};

// The disk through the standard library, with the program's own MD5 check.
class DiskFiles : public IResumeFiles {
 public:
  std::vector<std::wstring> deleted;

  bool PathExists(const std::wstring& path) override {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
  }
  void DeletePath(const std::wstring& path) override {
    deleted.push_back(path);
    std::error_code ec;
    if (!fs::is_directory(fs::path(path), ec)) fs::remove(fs::path(path), ec);
  }
  bool IsFileComplete(const std::wstring& path, uint64_t size) override {
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(path), ec)) return false;
    return IsCompleteSize(fs::file_size(fs::path(path), ec), size);
  }
  bool VerifyFileMd5(const std::wstring& path, const std::wstring& md5Text) override {
    std::error_code ec;
    uint64_t size = fs::is_regular_file(fs::path(path), ec) ? fs::file_size(fs::path(path), ec) : 0;
    FileReader reader{fs::path(path)};
    Md5Digest digest{};
    Md5OfFileTail(reader, size, &digest);
    return Md5TextMatches(digest, md5Text);
  }
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class ResumeDetection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_temp.Path().empty());
    m_root = m_temp.Path();
    m_dir = m_root / "save";
    fs::create_directories(m_dir);
    state_ = std::make_unique<CResumeState>(store_);
    AddEntry("setup.exe", "the installer of the game");
    AddEntry("data1.bin", std::string(3000, 'x'));
    AddEntry("data2.bin", "last");
    SaveDir(m_dir);
    progress_.pendingItems.assign(list_.begin(), list_.end());
  }

  void AddEntry(const std::string& name, const std::string& content) {
    GameFileEntry e;
    e.size = content.size();
    e.downloadLink = L"http://dl.example.invalid/g/" + Wide(name);
    const std::string md5 = FormatMd5Text(Md5Of(content.data(), content.size()));
    e.md5Text = Wide(md5);
    list_.push_back(e);
    contents_.push_back(content);
  }
  void SaveDir(const fs::path& dir) { state_->SaveDownloadDir(dir.wstring() + L"/"); }
  void Write(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }
  // Entry i downloaded whole (or with other bytes of the same length).
  void Complete(size_t i, bool wrongContent = false) {
    std::string content = contents_[i];
    if (wrongContent) content.assign(content.size(), '?');
    Write(m_dir / Name(i), content);
  }
  void Partial(size_t i) { Write(m_dir / (Name(i) + ".P2P"), "side file"); }
  std::string Name(size_t i) const {
    std::wstring link = list_[i].downloadLink;
    std::wstring name = link.substr(link.rfind(L'/') + 1);
    return std::string(name.begin(), name.end());
  }
  bool Exists(const std::string& name) const { return fs::exists(m_dir / name); }
  int Detect(const wchar_t* safecheck) { return DetectResumeState(*state_, files_, list_, safecheck, progress_); }
  std::wstring DirText() const { return m_dir.wstring() + L"/"; }

  TempFolder m_temp{"gd-resume"};
  fs::path m_root, m_dir;
  MapStore store_;
  std::unique_ptr<CResumeState> state_;
  DiskFiles files_;
  std::vector<GameFileEntry> list_;
  std::vector<std::string> contents_;
  ResumeProgress progress_;
};

TEST_F(ResumeDetection, NoUsableDirectoryGivesZeroAndTouchesNothing) {
  store_.exists = false;
  EXPECT_EQ(Detect(L"1"), ResumeNone);
  store_.exists = true;
  store_.values.clear();
  EXPECT_EQ(Detect(L"1"), ResumeNone);
  SaveDir(m_root / "gone");
  Complete(0);
  EXPECT_EQ(Detect(L"1"), ResumeNone);
  EXPECT_EQ(progress_.saveDir, L"");
  EXPECT_EQ(progress_.pendingItems.size(), 3u);
  EXPECT_TRUE(files_.deleted.empty());
}

TEST_F(ResumeDetection, StoredDirWithoutSeparatorIsStillAFolder) {
  // Another version or a hand edit may leave the separator off.
  state_->SaveDownloadDir(m_dir.wstring());
  Complete(0);
  const fs::path sibling = m_root / "savesetup.exe";
  Write(sibling, "not ours");
  EXPECT_EQ(Detect(L"1"), ResumeSomeComplete);
  const std::wstring joined = m_dir.wstring() + static_cast<wchar_t>(fs::path::preferred_separator);
  EXPECT_EQ(progress_.saveDir, joined);
  EXPECT_TRUE(fs::exists(sibling));
  EXPECT_TRUE(files_.deleted.empty());
  EXPECT_EQ(CResumeState(store_).LoadDownloadDir(), joined);
  state_->SaveDownloadDir(L"C:\\games");
  EXPECT_EQ(state_->LoadDownloadDir(), L"C:\\games\\");
}

TEST_F(ResumeDetection, EmptyDirectoryGivesZeroWithoutTakingIt) {
  EXPECT_EQ(Detect(L"1"), ResumeNone);
  EXPECT_EQ(progress_.saveDir, L"");
  EXPECT_EQ(progress_.completedBytes, 0u);
  EXPECT_EQ(progress_.currentItem, list_[2]);
}

TEST_F(ResumeDetection, SideFileOfTheFirstEntryGivesPartial) {
  Partial(0);
  EXPECT_EQ(Detect(L"1"), ResumePartial);
  EXPECT_EQ(progress_.saveDir, DirText());
  EXPECT_EQ(progress_.currentItem, list_[0]);
  EXPECT_EQ(progress_.pendingItems.size(), 3u);
  EXPECT_EQ(progress_.completedBytes, 0u);
}

TEST_F(ResumeDetection, FirstCompleteAndNothingOfTheSecondGivesSomeComplete) {
  for (const wchar_t* safecheck : {L"1", L"0"}) {
    ResumeProgress fresh;
    fresh.pendingItems.assign(list_.begin(), list_.end());
    progress_ = fresh;
    Complete(0);
    EXPECT_EQ(Detect(safecheck), ResumeSomeComplete) << safecheck;
    EXPECT_EQ(progress_.completedBytes, list_[0].size);
    ASSERT_EQ(progress_.pendingItems.size(), 2u);
    EXPECT_EQ(progress_.pendingItems.front(), list_[1]);
    EXPECT_EQ(progress_.saveDir, DirText());
  }
}

TEST_F(ResumeDetection, FirstCompleteAndSideFileOfTheSecondGivesPartial) {
  Complete(0);
  Partial(1);
  EXPECT_EQ(Detect(L"1"), ResumePartial);
  EXPECT_EQ(progress_.completedBytes, list_[0].size);
  EXPECT_EQ(progress_.pendingItems.front(), list_[1]);
  EXPECT_EQ(progress_.currentItem, list_[1]);
}

TEST_F(ResumeDetection, EverythingCompleteGivesComplete) {
  for (size_t i = 0; i < 3; ++i) Complete(i);
  EXPECT_EQ(Detect(L"0"), ResumeComplete);
  EXPECT_TRUE(progress_.pendingItems.empty());
  EXPECT_EQ(progress_.completedBytes, list_[0].size + list_[1].size + list_[2].size);
  EXPECT_EQ(progress_.saveDir, DirText());
}

TEST_F(ResumeDetection, WithTheMd5CheckTheLastFileStaysPending) {
  for (size_t i = 0; i < 3; ++i) Complete(i);
  EXPECT_EQ(Detect(L"1"), ResumeComplete);
  ASSERT_EQ(progress_.pendingItems.size(), 1u);
  EXPECT_EQ(progress_.pendingItems.front(), list_[2]);
  EXPECT_EQ(progress_.completedBytes, list_[0].size + list_[1].size);
}

TEST_F(ResumeDetection, WithoutTheMd5CheckARightSizedFileOfWrongContentCounts) {
  for (const wchar_t* safecheck : {L"0", L"", L"yes", L"1 "}) {
    progress_ = ResumeProgress();
    progress_.pendingItems.assign(list_.begin(), list_.end());
    for (size_t i = 0; i < 3; ++i) Complete(i, true);
    EXPECT_EQ(Detect(safecheck), ResumeComplete) << safecheck;
  }
  EXPECT_TRUE(files_.deleted.empty());
}

// A complete-looking file that fails: every listed file and side file goes,
// nothing else in the folder does, and the download starts from the top.
TEST_F(ResumeDetection, AFailedFileHoldsTheListedFilesAndDropsOnlyThem) {
  struct Case {
    const wchar_t* safecheck;
    bool wrongContent;
    bool wrongSize;
  } cases[] = {{L"1", true, false}, {L"0", false, true}, {L"1", false, true}};
  for (const Case& c : cases) {
    Complete(0);
    Partial(1);
    if (c.wrongSize) {
      Write(m_dir / Name(1), contents_[1] + "!");
    } else {
      Complete(1, c.wrongContent);
    }
    Partial(2);
    Write(m_dir / "savegame.dat", "the player's own file");
    Write(m_dir / (Name(2) + ".bak"), "not ours either");
    progress_ = ResumeProgress();
    progress_.pendingItems.assign(list_.begin(), list_.end());

    EXPECT_EQ(Detect(c.safecheck), ResumeNone);
    // Held for the engine until the download starts elsewhere or the
    // program ends; then they go as they would have at once.
    EXPECT_TRUE(Exists(Name(1)));
    EXPECT_EQ(progress_.heldDir, DirText());
    EXPECT_EQ(progress_.heldNames.size(), 3u);
    EXPECT_TRUE(IsHeldDir(progress_, DirText() + L"\\"));
    DropHeldFiles(files_, progress_);
    EXPECT_TRUE(progress_.heldNames.empty());
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_FALSE(Exists(Name(i))) << i;
      EXPECT_FALSE(Exists(Name(i) + ".P2P")) << i;
    }
    EXPECT_TRUE(Exists("savegame.dat"));
    EXPECT_TRUE(Exists(Name(2) + ".bak"));
    EXPECT_TRUE(fs::is_directory(m_dir));
    EXPECT_EQ(progress_.saveDir, DirText());
    EXPECT_EQ(progress_.completedBytes, 0u);
    EXPECT_EQ(progress_.pendingItems.size(), 3u);
    EXPECT_EQ(progress_.currentItem, list_[2]);
  }
}

TEST_F(ResumeDetection, AnEmptyFileCountsAsFailed) {
  Write(m_dir / Name(0), "");
  EXPECT_EQ(Detect(L"0"), ResumeNone);
  const std::string name = Name(0);
  EXPECT_EQ(progress_.heldNames.count(std::wstring(name.begin(), name.end())), 1u);
}

TEST_F(ResumeDetection, AListedNameThatNamesNoFileIsPassedOver) {
  list_[1].downloadLink = L"http://dl.example.invalid/g/";  // no file name: would be the folder itself
  Complete(0);
  Partial(2);
  EXPECT_EQ(Detect(L"0"), ResumePartial);
  EXPECT_TRUE(fs::is_directory(m_dir));
  EXPECT_TRUE(files_.deleted.empty());
}

TEST_F(ResumeDetection, DeleteAllIfAnyMissingLooksAtTheNewFolder) {
  Complete(0);
  Partial(1);
  const fs::path other = m_root / "other";
  fs::create_directories(other);
  for (size_t i = 0; i < 3; ++i) Write(other / Name(i), contents_[i]);
  progress_.saveDir = other.wstring() + L"/";
  progress_.completedBytes = list_[0].size;
  progress_.pendingItems.pop_front();

  DeleteAllIfAnyMissing(*state_, files_, list_, progress_);
  EXPECT_TRUE(files_.deleted.empty()) << "every file is in the new folder";
  EXPECT_TRUE(Exists(Name(0)));

  fs::remove(other / Name(2));
  DeleteAllIfAnyMissing(*state_, files_, list_, progress_);
  EXPECT_FALSE(Exists(Name(0)));
  EXPECT_FALSE(Exists(Name(1) + ".P2P"));
  EXPECT_TRUE(fs::exists(other / Name(0))) << "the saved folder's files go, not the new folder's";
  EXPECT_EQ(progress_.completedBytes, 0u);
  EXPECT_EQ(progress_.pendingItems.size(), 3u);
  EXPECT_EQ(progress_.saveDir, other.wstring() + L"/");
}

TEST_F(ResumeDetection, DeleteDownloadedFilesWithoutSavedFolderDoesNothing) {
  Complete(0);
  store_.values.clear();
  DeleteDownloadedFiles(*state_, files_, list_, progress_);
  EXPECT_TRUE(Exists(Name(0)));
  EXPECT_TRUE(files_.deleted.empty());
}

}  // namespace
