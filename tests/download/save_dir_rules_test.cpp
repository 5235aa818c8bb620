#include "download/save_dir_rules.h"

#include <gtest/gtest.h>

#include "download_fakes.h"

namespace {

class SaveDirTest : public ::testing::Test {
 protected:
  void AddDrive(wchar_t letter, const std::wstring& fileSystem, uint64_t freeBytes) {
    const std::wstring root = std::wstring(1, letter) + L":\\";
    disk.fileSystems[root] = fileSystem;
    disk.freeBytes[root] = freeBytes;
    disk.drives |= 1u << (letter - L'A');
  }
  FakeDisk disk;
};

TEST_F(SaveDirTest, Fat32_FileOfExactlyFourGibPassesOneByteMoreFails) {
  AddDrive(L'F', L"FAT32", 1ull << 40);
  disk.paths.insert(L"F:\\dl");
  EXPECT_EQ(CheckSaveDir(disk, L"F:\\dl", 4294967296ull, 1, L"a.bin", L"a.bin"), DirCheck::Accepted);
  EXPECT_EQ(CheckSaveDir(disk, L"F:\\dl", 4294967297ull, 1, L"a.bin", L"a.bin"), DirCheck::FatTooSmall);
  EXPECT_STREQ(DirCheckMessage(DirCheck::FatTooSmall), kFatMessage);
}

TEST_F(SaveDirTest, IsFatVolume_ByFileSystemNameOfTheRoot) {
  AddDrive(L'C', L"NTFS", 1);
  AddDrive(L'F', L"FAT", 1);
  AddDrive(L'G', L"fat32", 1);
  disk.paths.insert(L"C:\\x\\y");
  disk.paths.insert(L"F:\\x");
  disk.paths.insert(L"G:\\x");
  disk.paths.insert(L"H:\\x");  // a volume whose file system cannot be read
  EXPECT_FALSE(IsFatVolume(disk, L"C:\\x\\y"));
  EXPECT_TRUE(IsFatVolume(disk, L"F:\\x"));
  EXPECT_FALSE(IsFatVolume(disk, L"G:\\x")) << "the name is compared as the system gives it";
  EXPECT_TRUE(IsFatVolume(disk, L"C:\\missing")) << "a missing directory promises nothing";
  EXPECT_FALSE(IsFatVolume(disk, L"H:\\x")) << "an unreadable file system is not known to be FAT";
}

TEST(SuiteDirsTest, DirectoryAndItsSubfoldersAreRefusedNeighboursAccepted) {
  const std::vector<std::wstring> suite = {L"X\\Tarnsafe"};
  EXPECT_FALSE(IsOutsideSuiteDirs(L"X\\Tarnsafe", suite));
  EXPECT_FALSE(IsOutsideSuiteDirs(L"X\\Tarnsafe\\sub", suite));
  EXPECT_TRUE(IsOutsideSuiteDirs(L"X\\TarnsafeOther", suite));
  EXPECT_TRUE(IsOutsideSuiteDirs(L"X\\Tarn", suite));
  EXPECT_TRUE(IsOutsideSuiteDirs(L"X\\tarnsafe", suite)) << "compared case-sensitively";
  EXPECT_TRUE(IsOutsideSuiteDirs(L"D:\\games", {}));
  EXPECT_TRUE(IsOutsideSuiteDirs(L"D:\\games", {L""})) << "an empty value refuses nothing";
  EXPECT_FALSE(IsOutsideSuiteDirs(L"C:\\Suite\\bin", {L"D:\\Other", L"C:\\Suite"})) << "second location";
}

TEST_F(SaveDirTest, SuiteDirectoryGivesThePermissionMessage) {
  AddDrive(L'C', L"NTFS", 1ull << 40);
  disk.paths.insert(L"C:\\Tarnsafe");
  disk.suiteDirs = {L"C:\\Tarnsafe"};
  EXPECT_EQ(CheckSaveDir(disk, L"C:\\Tarnsafe", 10, 10, L"a.bin", L"a.bin"), DirCheck::NoPermission);
}

TEST_F(SaveDirTest, CanWriteDir_ProbesByCreatingAndRemovingADirectory) {
  AddDrive(L'C', L"NTFS", 1);
  EXPECT_TRUE(CanWriteDir(disk, L"C:\\dl\\a.bin"));
  EXPECT_FALSE(disk.PathExists(L"C:\\dl\\a.bin")) << "the probe leaves nothing behind";
  disk.readOnly.insert(L"C:\\");
  EXPECT_FALSE(CanWriteDir(disk, L"C:\\dl\\a.bin"));
  disk.AddFile(L"C:\\dl\\a.bin", 5);
  EXPECT_TRUE(CanWriteDir(disk, L"C:\\dl\\a.bin")) << "a file already downloaded there passes";
}

TEST_F(SaveDirTest, HasEnoughSpace_FreeSpaceMustExceedTheNeed) {
  AddDrive(L'D', L"NTFS", 1000);
  disk.paths.insert(L"D:\\dl");
  EXPECT_FALSE(HasEnoughSpace(disk, L"D:\\dl", 1000, L"a.bin")) << "equal is refused";
  EXPECT_TRUE(HasEnoughSpace(disk, L"D:\\dl", 999, L"a.bin"));
  EXPECT_FALSE(HasEnoughSpace(disk, L"D:\\missing", 1, L"a.bin"));
}

TEST_F(SaveDirTest, HasEnoughSpace_PartialDataCountsAsFree) {
  AddDrive(L'D', L"NTFS", 1000);
  disk.paths.insert(L"D:\\dl");
  disk.AddFile(L"D:\\dl\\a.bin.P2P", 600);
  EXPECT_TRUE(HasEnoughSpace(disk, L"D:\\dl", 1500, L"a.bin"));
  EXPECT_FALSE(HasEnoughSpace(disk, L"D:\\dl", 1600, L"a.bin"));
  // A leftover target beside the data file is not what the engine reuses.
  disk.AddFile(L"D:\\dl\\b.bin", 600);
  EXPECT_FALSE(HasEnoughSpace(disk, L"D:\\dl", 1500, L"b.bin"));
  EXPECT_EQ(CheckSaveDir(disk, L"D:\\dl\\", 1, 1500, L"a.bin", L"a.bin"), DirCheck::Accepted);
}

TEST_F(SaveDirTest, Propose_RoomiestQualifyingDriveGetsADownloadFolder) {
  AddDrive(L'A', L"FAT", 1ull << 50);  // never offered
  AddDrive(L'C', L"NTFS", 5000);
  AddDrive(L'D', L"CDFS", 1ull << 40);  // cannot be written
  disk.readOnly.insert(L"D:\\");
  AddDrive(L'E', L"NTFS", 9000);
  AddDrive(L'F', L"NTFS", 9000);  // not strictly more than E
  EXPECT_EQ(ProposeDefaultDir(disk, 100, L"a.bin"), L"E:\\download\\");
  EXPECT_TRUE(disk.PathExists(L"E:\\download\\"));
}

TEST_F(SaveDirTest, Propose_FatDriveSkippedOnlyWhenTheWholeGameIsOverFourGib) {
  AddDrive(L'C', L"NTFS", 5ull << 32);
  AddDrive(L'F', L"FAT32", 9ull << 32);
  EXPECT_EQ(ProposeDefaultDir(disk, 4294967296ull, L"a.bin"), L"F:\\download\\");
  disk.paths.clear();
  EXPECT_EQ(ProposeDefaultDir(disk, 4294967297ull, L"a.bin"), L"C:\\download\\");
}

TEST_F(SaveDirTest, Propose_NothingWhenNoDriveHasRoom) {
  AddDrive(L'C', L"NTFS", 100);
  EXPECT_EQ(ProposeDefaultDir(disk, 100, L"a.bin"), L"");
  EXPECT_EQ(ProposeDefaultDir(disk, 99, L"a.bin"), L"C:\\download\\");
  FakeDisk none;
  EXPECT_EQ(ProposeDefaultDir(none, 1, L"a.bin"), L"");
}

}  // namespace
