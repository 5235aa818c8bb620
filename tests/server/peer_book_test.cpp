#include "peer_book.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kFile(64, 'a');

std::vector<std::string> Names(const std::vector<PeerBook::Peer>& peers) {
  std::vector<std::string> names;
  for (const auto& p : peers) names.push_back(p.address + ":" + std::to_string(p.port));
  return names;
}

TEST(PeerBook, SameAddressFirstThenNewestAndForgottenAfterTenMinutes) {
  PeerBook book;
  EXPECT_TRUE(book.Meet(kFile, "198.51.100.1", 7000, 0).empty());
  book.Meet(kFile, "203.0.113.9", 7000, 1000);
  book.Meet(kFile, "198.51.100.2", 7000, 2000);
  book.Meet(kFile, "203.0.113.9", 7001, 3000);
  // Asking again keeps the asker out of its own answer.
  EXPECT_EQ(Names(book.Meet(kFile, "203.0.113.9", 7000, 4000)),
            (std::vector<std::string>{"203.0.113.9:7001", "198.51.100.2:7000", "198.51.100.1:7000"}));
  // Port 0: a player that does not share asks without being kept.
  EXPECT_EQ(book.Meet(kFile, "192.0.2.7", 0, 5000).size(), 4u);
  EXPECT_EQ(book.Meet(kFile, "192.0.2.8", 0, 5000).size(), 4u);
  // Ten minutes after its last query a peer is no longer named.
  EXPECT_EQ(Names(book.Meet(kFile, "192.0.2.7", 0, 2000 + PeerBook::kForgetMs + 1)),
            (std::vector<std::string>{"203.0.113.9:7000", "203.0.113.9:7001"}));
  EXPECT_TRUE(book.Meet(kFile, "192.0.2.7", 0, 4000 + 2 * PeerBook::kForgetMs).empty());
  EXPECT_EQ(book.Files(), 0u);
}

TEST(PeerBook, AnswersAtMostEightAndStaysBoundedUnderACrowd) {
  PeerBook book;
  for (int i = 0; i < 1000; ++i) book.Meet(kFile, "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250), 9000, i);
  const auto answer = book.Meet(kFile, "192.0.2.1", 0, 1000);
  ASSERT_EQ(answer.size(), PeerBook::kMaxAnswer);
  EXPECT_EQ(answer.front().address, "10.0.3.249");  // the newest first
  // Made-up files: the book keeps at most its limit and still answers.
  for (size_t i = 0; i < PeerBook::kMaxFiles + 100; ++i) {
    std::string key = std::to_string(i);
    key.insert(0, 64 - key.size(), 'b');
    book.Meet(key, "192.0.2.1", 9000, 2000);
  }
  EXPECT_EQ(book.Files(), PeerBook::kMaxFiles);
  EXPECT_EQ(book.Meet(kFile, "192.0.2.2", 0, 3000).size(), PeerBook::kMaxAnswer);
}

TEST(PeerBook, FileKeysAndLines) {
  EXPECT_EQ(PeerBook::FileKey(std::string(64, 'A')), std::string(64, 'a'));
  for (const std::string& bad : {std::string(), std::string(63, 'a'), std::string(65, 'a'), std::string(64, 'g'),
                                 std::string(63, 'a') + "%", std::string(62, 'a') + "/x"}) {
    EXPECT_EQ(PeerBook::FileKey(bad), "") << bad;
  }
  EXPECT_EQ(PeerBook::Line({"198.51.100.1", 7000}), "peer 198.51.100.1:7000\n");
  EXPECT_EQ(PeerBook::Line({"2001:db8::1", 7000}), "peer [2001:db8::1]:7000\n");
}

}  // namespace
