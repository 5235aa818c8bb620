#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "core/file_io.h"
#include "core/metalink.h"
#include "core/piece_checker.h"
#include "core/piece_ledger.h"
#include "core/sha256.h"

namespace p2sp {
namespace {

TEST(Sha256, NistVectors) {
  // FIPS 180-2 examples, plus one message fed in uneven parts.
  const std::string million(1000000, 'a');
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    Sha256Digest d{};
    ASSERT_TRUE(Sha256Of(c.message.data(), c.message.size(), &d));
    EXPECT_EQ(Sha256Text(d), c.digest) << c.message.size() << " bytes";
    Sha256 h;  // the same in parts of 1, 63 and 65 bytes, and a second message after Final
    for (size_t pos = 0, step = 1; pos < c.message.size(); pos += step, step = step == 1 ? 63 : step == 63 ? 65 : 1)
      h.Update(c.message.data() + pos, std::min(step, c.message.size() - pos));
    ASSERT_TRUE(h.Final(&d));
    EXPECT_EQ(Sha256Text(d), c.digest);
    h.Update("abc", 3);
    ASSERT_TRUE(h.Final(&d));
    EXPECT_EQ(Sha256Text(d), cases[1].digest);
  }
}

std::string Doc(const std::string& fileBody) {
  return "<?xml version=\"1.0\"?>\n<metalink xmlns=\"urn:ietf:params:xml:ns:metalink\"><file name=\"g.bin\">" +
         fileBody + "</file></metalink>";
}

const std::string kH(64, 'a');

TEST(Metalink, WrittenDocumentsParseBack) {
  Manifest m;
  m.name = "a&b <game>.bin";
  m.size = 5 * 1024 + 1;
  m.sha256 = std::string(64, '1');
  m.pieceLength = 2048;
  m.pieces = {std::string(64, '2'), std::string(64, '3'), std::string(64, '4')};
  m.urls = {"http://m1/x?a=1&b=2", "https://m2/y"};
  Manifest back;
  std::string why;
  ASSERT_TRUE(ParseMetalink(WriteMetalink(m), &back, &why)) << why;
  EXPECT_EQ(back.name, m.name);
  EXPECT_EQ(back.size, m.size);
  EXPECT_EQ(back.sha256, m.sha256);
  EXPECT_EQ(back.pieces, m.pieces);
  EXPECT_EQ(back.urls, m.urls);
  EXPECT_EQ(back.PieceEnd(2), m.size);
}

TEST(Metalink, WhatIsAcceptedAndWhatIsNot) {
  const std::string pieces2 = "<pieces length=\"1024\" type=\"sha-256\"><hash>" + kH + "</hash><hash>" +
                              std::string(64, 'B') + "</hash></pieces>";
  const std::string whole = "<hash type=\"sha-256\">" + kH + "</hash>";
  struct Case {
    std::string text;
    bool ok;
  } cases[] = {
      {Doc("<size>2000</size>" + whole + pieces2), true},
      // Other hash types, extensions and a second <file> are ignored.
      {Doc("<size>2000</size><hash type=\"md5\">x</hash>" + whole +
           "<pieces length=\"64\" type=\"sha-1\"><hash>y</hash></pieces>" + pieces2 + "<x:o xmlns:x=\"urn:o\"/>"), true},
      {Doc("<size>2049</size>" + whole + pieces2), false},             // three pieces needed
      {Doc("<size>2000</size>" + whole), false},                       // no pieces
      {Doc("<size>2000</size>" + pieces2), false},                     // no whole-file hash
      {Doc("<size>x</size>" + whole + pieces2), false},
      {Doc("<size>2000</size>" + whole + "<pieces length=\"1000\" type=\"sha-256\"><hash>" + kH + "</hash><hash>" + kH +
           "</hash></pieces>"), false},                                 // not a power of two
      {Doc("<size>2000</size><hash type=\"sha-256\">abc</hash>" + pieces2), false},
      {Doc("<size>2000</size>" + whole + pieces2).substr(0, 120), false},  // cut short
      {"<metalink><file name=\"g\"><size>2000</size></file></metalink>", false},  // no namespace
      {"<!DOCTYPE m [<!ENTITY e \"x\">]>" + Doc("<size>2000</size>" + whole + pieces2), false},
      {"not xml at all", false},
  };
  for (const Case& c : cases) {
    Manifest m;
    std::string why;
    EXPECT_EQ(ParseMetalink(c.text, &m, &why), c.ok) << c.text << "\n" << why;
    if (!c.ok) {
      EXPECT_FALSE(why.empty());
    }
  }
}

TEST(PieceLedger, APieceCountsOnlyAfterAMatchOnTheBytesThatWereHashed) {
  Manifest m;
  m.size = 4096 * 3 + 10;  // four pieces, the last one short
  m.pieceLength = 4096;
  m.pieces.assign(4, std::string(64, 'a'));
  PieceLedger ledger;
  ledger.Reset(&m);
  RangeSet done;
  done.Add(0, 8192 + 100);
  EXPECT_EQ(ledger.TakeReady(done, 1), (std::vector<uint64_t>{0, 1}));
  EXPECT_TRUE(ledger.TakeReady(done, 1).empty());  // waiting already
  done.Add(12288, m.size);
  EXPECT_EQ(ledger.TakeReady(done, 1), (std::vector<uint64_t>{3}));
  EXPECT_EQ(ledger.Settle(0, true, 1), PieceLedger::Outcome::kVerified);
  EXPECT_EQ(ledger.Settle(0, true, 1), PieceLedger::Outcome::kIgnored);  // not waiting any more
  EXPECT_EQ(ledger.Settle(1, false, 1), PieceLedger::Outcome::kBad);
  EXPECT_EQ(ledger.Settle(3, true, 2), PieceLedger::Outcome::kRecheck);  // bytes were forgotten meanwhile
  EXPECT_EQ(ledger.TakeReady(done, 2), (std::vector<uint64_t>{1, 3}));  // asked again though no byte moved
  EXPECT_EQ(ledger.Verified().Covered(), 4096u);
  EXPECT_FALSE(ledger.AllVerified());
  EXPECT_EQ(ledger.Checked(), 2u);
  EXPECT_FALSE(ledger.StrikeLink(1));
  EXPECT_TRUE(ledger.StrikeLink(1));
  EXPECT_FALSE(ledger.StrikeLink(2));

  // From a record: only pieces still wholly done are trusted.
  ledger.Reset(&m);
  RangeSet verified;
  verified.Add(0, 8192);
  RangeSet someDone;
  someDone.Add(0, 6000);
  EXPECT_EQ(ledger.Trust(verified, someDone), 1u);
  EXPECT_EQ(ledger.Verified().Covered(), 4096u);
  ledger.Reset(nullptr);
  EXPECT_TRUE(ledger.AllVerified());
  EXPECT_TRUE(ledger.TakeReady(done, 3).empty());
}

TEST(PieceChecker, NamesEachPieceThatDoesNotMatch) {
  const std::string path = ::testing::TempDir() + "/piece_checker.bin";
  std::string data(3 * 4096 + 5, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 11);
  RandomFile file;
  ASSERT_TRUE(file.Open(path, true));
  ASSERT_TRUE(file.Truncate(0));
  ASSERT_TRUE(file.WriteAt(0, data.data(), data.size()));
  auto hashOf = [&](size_t b, size_t e) {
    Sha256Digest d{};
    Sha256Of(data.data() + b, e - b, &d);
    return Sha256Text(d);
  };
  PieceChecker checker(file);
  checker.Check(0, 0, 4096, hashOf(0, 4096));
  checker.Check(1, 4096, 8192, hashOf(0, 4096));  // the hash of another piece
  checker.Check(3, 12288, data.size(), hashOf(12288, data.size()));
  checker.Check(4, 12288, data.size() + 10, hashOf(12288, data.size()));  // reads past the end
  std::vector<PieceChecker::Result> all;
  for (int i = 0; i < 500 && all.size() < 4; ++i) {
    for (const auto& r : checker.Take()) all.push_back(r);
    if (all.size() < 4) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(checker.Pending(), 0u);
  std::string got;
  for (const auto& r : all) got += std::to_string(r.index) + (r.readFailed ? "r" : r.match ? "+" : "-") + " ";
  EXPECT_EQ(got, "0+ 1- 3+ 4r ");
  checker.Stop();
  file.Close();
  RemoveFile(path);
}

}  // namespace
}  // namespace p2sp
