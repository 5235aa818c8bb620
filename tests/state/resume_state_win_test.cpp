#include "state/resume_state_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "config/downloader_config.h"
#include "download/download_platform_win.h"
#include "verify/md5.h"

#include "support/temp_folder.h"

namespace {

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class ProfileResume : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.Path().empty());
    folder_ = temp_.Dir();
    path_ = folder_ + L"{TEST-KEY}.tmp.cfg";
  }
  TempFolder temp_{"gd-resume-win"};
  std::wstring folder_, path_;
};

TEST_F(ProfileResume, OnlyResetMakesTheFile) {
  CProfileResumeStore store(path_);
  CResumeState state(store);
  EXPECT_FALSE(state.ResumeFileExists());
  state.SaveDownloadDir(L"C:\\games\\");
  state.SaveDownloadTotalTime(5);
  EXPECT_FALSE(Exists(path_));
  EXPECT_EQ(state.LoadGardboxSize(), 10485760u);

  state.ResetResumeFile();
  EXPECT_TRUE(state.ResumeFileExists());
  EXPECT_EQ(ReadBytes(path_), std::string("\xff\xfe"));
  EXPECT_EQ(state.LoadDownloadDir(), L"");
  EXPECT_EQ(state.LoadDownloadTotalTime(), 0u);
  EXPECT_FALSE(state.LoadInstallGardbox(true));
}

TEST_F(ProfileResume, ValuesSurviveInTheFileWhateverTheScript) {
  {
    CProfileResumeStore store(path_);
    CResumeState state(store);
    state.ResetResumeFile();
    state.SaveDownloadDir(L"D:\\网络游戏\\下载\\");
    state.SaveInstallGardbox(1);
    state.SaveGardboxSize(3221225472ULL);
    state.SaveDownloadTotalTime(123456789012ULL);
  }
  CProfileResumeStore store(path_);
  CResumeState state(store);
  EXPECT_EQ(state.LoadDownloadDir(), L"D:\\网络游戏\\下载\\");
  EXPECT_TRUE(state.LoadInstallGardbox(false));
  EXPECT_EQ(state.LoadGardboxSize(), 3221225472ULL);
  EXPECT_EQ(state.LoadDownloadTotalTime(), 123456789012ULL);
  // The keys as other tools see them.
  wchar_t text[64] = {};
  ::GetPrivateProfileStringW(L"wavepull", L"dlgd", L"", text, 64, path_.c_str());
  EXPECT_STREQ(text, L"1");
  ::GetPrivateProfileStringW(L"Wavepull", L"GDSize", L"", text, 64, path_.c_str());
  EXPECT_STREQ(text, L"-1073741824");
}

TEST_F(ProfileResume, AnOlderFileWithoutByteOrderMarkIsRead) {
  WriteBytes(path_, "[WAVEPULL]\r\nDir=C:\\old\\\r\nDlGD=1\r\nGDSize=abc\r\nDownloadTotalTime=  77\r\n");
  CProfileResumeStore store(path_);
  CResumeState state(store);
  EXPECT_EQ(state.LoadDownloadDir(), L"C:\\old\\");
  EXPECT_TRUE(state.LoadInstallGardbox(false));
  EXPECT_EQ(state.LoadGardboxSize(), 10485760u);
  EXPECT_EQ(state.LoadDownloadTotalTime(), 77u);
  state.SaveDownloadTotalTime(78);
  EXPECT_EQ(state.LoadDownloadTotalTime(), 78u);
}

TEST_F(ProfileResume, ADirectoryLongerThanTheBufferReadsAsNone) {
  CProfileResumeStore store(path_);
  CResumeState state(store);
  state.ResetResumeFile();
  const std::wstring fits = L"C:\\" + std::wstring(255, L'd') + L"\\";
  state.SaveDownloadDir(fits);
  EXPECT_EQ(state.LoadDownloadDir(), fits);
  state.SaveDownloadDir(fits + L"x\\");
  EXPECT_EQ(state.LoadDownloadDir(), L"");
}

// Detection over a real folder with the program's own file checks.
TEST_F(ProfileResume, DetectionWithTheProgramsFileChecks) {
  const std::wstring saveDir = folder_ + L"save\\";
  ::CreateDirectoryW(saveDir.c_str(), nullptr);
  const std::string first = "first file of the game", second(5000, 's');
  std::vector<GameFileEntry> list(2);
  list[0].size = first.size();
  list[0].downloadLink = L"http://h/g/one.exe";
  const std::string md5 = FormatMd5Text(Md5Of(first.data(), first.size()));
  list[0].md5Text.assign(md5.begin(), md5.end());
  list[1].size = second.size();
  list[1].downloadLink = L"http://h/g/two.bin";
  list[1].md5Text = L"00000000000000000000000000000000";

  CProfileResumeStore store(path_);
  CResumeState state(store);
  CWinDiskSystem files;
  state.ResetResumeFile();
  state.SaveDownloadDir(saveDir);
  WriteBytes(saveDir + L"one.exe", first);

  ResumeProgress progress;
  progress.pendingItems.assign(list.begin(), list.end());
  EXPECT_EQ(DetectResumeState(state, files, list, L"1", progress), ResumeSomeComplete);
  EXPECT_EQ(progress.completedBytes, first.size());
  EXPECT_EQ(progress.saveDir, saveDir);

  WriteBytes(saveDir + L"two.bin.P2P", "partial");
  progress = ResumeProgress();
  progress.pendingItems.assign(list.begin(), list.end());
  EXPECT_EQ(DetectResumeState(state, files, list, L"1", progress), ResumePartial);

  // Right size, wrong bytes: with the MD5 check every file of the list is
  // held for the engine, and goes when dropped.
  WriteBytes(saveDir + L"one.exe", std::string(first.size(), '#'));
  WriteBytes(saveDir + L"keep.txt", "not ours");
  progress = ResumeProgress();
  progress.pendingItems.assign(list.begin(), list.end());
  EXPECT_EQ(DetectResumeState(state, files, list, L"1", progress), ResumeNone);
  EXPECT_TRUE(Exists(saveDir + L"one.exe"));
  DropHeldFiles(files, progress);
  EXPECT_FALSE(Exists(saveDir + L"one.exe"));
  EXPECT_FALSE(Exists(saveDir + L"two.bin.P2P"));
  EXPECT_TRUE(Exists(saveDir + L"keep.txt"));
  ::DeleteFileW((saveDir + L"keep.txt").c_str());
  ::RemoveDirectoryW(saveDir.c_str());
}

TEST(ResumeFilePath, IsTheTemporaryFolderTheGameKeyAndSuffix) {
  const std::wstring path = GetResumeFilePath(DownloaderConfig().GetGameKey());
  wchar_t temp[2048] = {};
  ::GetTempPathW(2048, temp);
  std::wstring folder = temp;
  if (folder.back() != L'\\') folder += L'\\';
  ASSERT_FALSE(DownloaderConfig().GetGameKey().empty());
  EXPECT_EQ(path, folder + DownloaderConfig().GetGameKey() + L".tmp.cfg");
}

}  // namespace
