#include "peer_book.h"

#include <gtest/gtest.h>

#include "service.h"

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
  // Made-up files: the book keeps at most its limit and still answers a
  // file that is asked about meanwhile.
  for (size_t i = 0; i < PeerBook::kMaxFiles + 100; ++i) {
    std::string key = std::to_string(i);
    key.insert(0, 64 - key.size(), 'b');
    book.Meet(key, "192.0.2." + std::to_string(i % 250), 9000, 2000);
    if (i % 100 == 0) book.Meet(kFile, "192.0.2.1", 0, 2000);
  }
  EXPECT_EQ(book.Files(), PeerBook::kMaxFiles);
  EXPECT_EQ(book.Meet(kFile, "192.0.2.2", 0, 3000).size(), PeerBook::kMaxAnswer);
}

std::string Made(size_t i) {
  std::string key = std::to_string(i);
  return key.insert(0, 64 - key.size(), 'c');
}

TEST(PeerBook, OneAddressKeepsAFewEntriesAndCannotPushOutOthers) {
  PeerBook book;
  book.Meet(kFile, "198.51.100.1", 7000, 0);
  for (int port = 1024; port < 1324; ++port) book.Meet(kFile, "203.0.113.66", static_cast<uint16_t>(port), port);
  // Its four newest are kept; the real peer is still there, first for a
  // newcomer behind its address.
  EXPECT_EQ(Names(book.Meet(kFile, "198.51.100.1", 7001, 2000)),
            (std::vector<std::string>{"198.51.100.1:7000", "203.0.113.66:1323", "203.0.113.66:1322",
                                      "203.0.113.66:1321", "203.0.113.66:1320"}));
  // Across files it keeps 64: its oldest go first, then files left empty.
  for (size_t i = 0; i < 70; ++i) book.Meet(Made(i), "203.0.113.66", 5000, static_cast<int64_t>(3000 + i));
  EXPECT_EQ(Names(book.Meet(kFile, "192.0.2.1", 0, 4000)),
            (std::vector<std::string>{"198.51.100.1:7001", "198.51.100.1:7000"}));
  EXPECT_TRUE(book.Meet(Made(5), "192.0.2.1", 0, 4000).empty());
  EXPECT_EQ(Names(book.Meet(Made(6), "192.0.2.1", 0, 4000)), (std::vector<std::string>{"203.0.113.66:5000"}));
  EXPECT_EQ(book.Files(), 65u);
}

TEST(PeerBook, PortsOfSystemServicesAreAnsweredButNotKept) {
  PeerBook book;
  book.Meet(kFile, "198.51.100.1", 7000, 0);
  for (const uint16_t port : {1, 22, 80, 1023}) {
    EXPECT_EQ(Names(book.Meet(kFile, "203.0.113.9", port, 1)), (std::vector<std::string>{"198.51.100.1:7000"}));
    EXPECT_TRUE(book.Meet(Made(port), "203.0.113.9", port, 1).empty());
  }
  book.Meet(kFile, "203.0.113.9", 1024, 2);
  EXPECT_EQ(Names(book.Meet(kFile, "192.0.2.1", 0, 3)),
            (std::vector<std::string>{"203.0.113.9:1024", "198.51.100.1:7000"}));
  EXPECT_EQ(book.Files(), 1u);
}

TEST(PeerBook, ANewFileIsKeptInPlaceOfTheOneAskedAboutLeastLately) {
  PeerBook book;
  for (size_t i = 0; i < PeerBook::kMaxFiles; ++i)
    book.Meet(Made(i), "10.0." + std::to_string(i / 64) + ".1", 7000, static_cast<int64_t>(i));
  book.Meet(Made(0), "192.0.2.9", 0, 5000);
  book.Meet(kFile, "192.0.2.1", 7000, 5001);
  EXPECT_EQ(book.Files(), PeerBook::kMaxFiles);
  EXPECT_EQ(Names(book.Meet(kFile, "192.0.2.2", 0, 5002)), (std::vector<std::string>{"192.0.2.1:7000"}));
  EXPECT_TRUE(book.Meet(Made(1), "192.0.2.2", 0, 5002).empty());
  EXPECT_EQ(Names(book.Meet(Made(0), "192.0.2.2", 0, 5002)), (std::vector<std::string>{"10.0.0.1:7000"}));
}

TEST(ClientAddress, OnlyTheTrustedProxyIsBelievedAndOnlyItsOwnEntry) {
  struct Case {
    const char *socket, *forwarded, *trusted, *client;
  };
  for (const Case& c : std::vector<Case>{
           {"203.0.113.5", "198.51.100.7", "", "203.0.113.5"},
           {"203.0.113.5", "198.51.100.7", "127.0.0.1", "203.0.113.5"},
           {"127.0.0.1", "10.9.9.9, 198.51.100.7", "127.0.0.1", "198.51.100.7"},
           {"127.0.0.1", "10.9.9.9,\t198.51.100.7 ", "127.0.0.1", "198.51.100.7"},
           {"::1", "2001:DB8:0::1", "::1", "2001:db8::1"},
           {"127.0.0.1", "", "127.0.0.1", ""},
           {"127.0.0.1", "198.51.100.7, unknown", "127.0.0.1", ""},
           {"127.0.0.1", "198.51.100.7,", "127.0.0.1", ""},
           {"127.0.0.1", "198.51.100.7:5000", "127.0.0.1", ""},
       }) {
    EXPECT_EQ(ClientAddress(c.socket, c.forwarded, c.trusted), c.client) << c.socket << " " << c.forwarded;
  }
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
