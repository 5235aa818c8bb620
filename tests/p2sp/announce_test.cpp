#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "core/announce_book.h"
#include "core/lan_announcer.h"

namespace p2sp {
namespace {

const std::string kSha(64, 'a');
const std::string kOther(64, 'b');

TEST(ParseAnnounce, ReadsOnlyTheExactShape) {
  PeerAnnounce read;
  const std::string good = FormatAnnounce({kSha, 8080, 42});
  EXPECT_EQ(good, "GDPEER 1 " + kSha + " 8080 42\n");
  ASSERT_TRUE(ParseAnnounce(good.data(), good.size(), &read));
  EXPECT_EQ(read.sha256, kSha);
  EXPECT_EQ(read.port, 8080);
  EXPECT_EQ(read.instance, 42u);
  const std::string max = FormatAnnounce({kSha, 65535, UINT64_MAX});
  ASSERT_TRUE(ParseAnnounce(max.data(), max.size(), &read));
  EXPECT_EQ(read.instance, UINT64_MAX);

  const std::string bad[] = {
      "",
      "GDPEER 1 " + kSha + " 8080 42",           // no line end
      "GDPEER 2 " + kSha + " 8080 42\n",         // a later version
      "GDPEER 1 " + kSha + " 0 42\n",            // no port
      "GDPEER 1 " + kSha + " 65536 42\n",        // beyond a port
      "GDPEER 1 " + kSha + " -1 42\n",
      "GDPEER 1 " + kSha + " 8080\n",            // no instance
      "GDPEER 1 " + kSha + " 8080 42 x\n",       // more words
      "GDPEER 1 " + kSha + "  8080 42\n",        // two blanks
      "GDPEER 1 " + kSha + " 8080 18446744073709551616\n",
      "GDPEER 1 " + std::string(63, 'a') + " 8080 42\n",
      "GDPEER 1 " + std::string(64, 'A') + " 8080 42\n",
      "GDPEER 1 ../" + std::string(61, 'a') + " 8080 42\n",
  };
  for (const std::string& text : bad) EXPECT_FALSE(ParseAnnounce(text.data(), text.size(), &read)) << text;
}

TEST(AnnounceBook, AnnouncesAtOnceThenEveryPeriodAndAnswersNewcomersSooner) {
  AnnounceBook book(9000, 1, true);
  EXPECT_EQ(book.NextDue(), UINT64_MAX);
  book.Set(kSha, true, true, 1000);
  EXPECT_EQ(book.TakeDue(1000).size(), 1u);
  EXPECT_TRUE(book.TakeDue(1001).empty());
  EXPECT_EQ(book.NextDue(), 1000 + AnnounceBook::kPeriodMs);

  // Our own echo is no peer; a neighbour fetching the same file is one.
  EXPECT_FALSE(book.Hear({kSha, 9000, 1}, "10.0.0.1", 1200));
  EXPECT_TRUE(book.Hear({kSha, 9001, 2}, "10.0.0.2", 1200));
  // The newcomer is answered, but not sooner than the gap after our last.
  EXPECT_EQ(book.NextDue(), 1000 + AnnounceBook::kAnswerGapMs);
  EXPECT_EQ(book.TakeDue(2000).size(), 1u);
  // Heard again: no longer new, nothing brought forward.
  book.Hear({kSha, 9001, 2}, "10.0.0.2", 2500);
  EXPECT_EQ(book.NextDue(), 2000 + AnnounceBook::kPeriodMs);
  // Forgotten after a long silence, new again.
  const uint64_t later = 2500 + AnnounceBook::kForgetMs + 1;
  EXPECT_EQ(book.TakeDue(later - 1).size(), 1u);
  book.Hear({kSha, 9001, 2}, "10.0.0.2", later);
  EXPECT_EQ(book.NextDue(), later - 1 + AnnounceBook::kAnswerGapMs);

  // Files we neither fetch nor share are ignored; a finished file is shared only.
  EXPECT_FALSE(book.Hear({kOther, 9001, 2}, "10.0.0.2", 3000));
  book.Set(kSha, false, true, 3000);
  EXPECT_FALSE(book.Hear({kSha, 9003, 3}, "10.0.0.3", 3000));
  book.Set(kSha, false, false, 3000);
  EXPECT_TRUE(book.Empty());
}

TEST(AnnounceBook, ASilentProcessListensButNeverAnnounces) {
  AnnounceBook book(9000, 1, false);
  book.Set(kSha, true, false, 0);
  EXPECT_TRUE(book.TakeDue(AnnounceBook::kPeriodMs * 10).empty());
  EXPECT_EQ(book.NextDue(), UINT64_MAX);
  EXPECT_TRUE(book.Hear({kSha, 9001, 2}, "10.0.0.2", 5));
}

TEST(AnnounceBook, OneHintPerSenderAndFilePerGapWhateverTheAnnounces) {
  AnnounceBook book(9000, 1, true);
  book.Set(kSha, true, false, 0);
  EXPECT_TRUE(book.Hear({kSha, 80, 2}, "10.0.0.9", 1000));
  // Repeats within the gap, even under new instances, are swallowed.
  for (uint64_t i = 0; i < 20; ++i) EXPECT_FALSE(book.Hear({kSha, 80, 3 + i}, "10.0.0.9", 1001 + i * 50));
  EXPECT_TRUE(book.Hear({kSha, 81, 2}, "10.0.0.9", 1500));  // another port is another peer
  // Each gap twice the last, up to a period.
  uint64_t at = 1000;
  for (uint64_t gap : {2000, 4000, 8000, 16000, 30000, 30000}) {
    EXPECT_FALSE(book.Hear({kSha, 80, 2}, "10.0.0.9", at + gap - 1)) << gap;
    EXPECT_TRUE(book.Hear({kSha, 80, 2}, "10.0.0.9", at + gap)) << gap;
    at += gap;
  }
}

TEST(AnnounceBook, AFloodOfSendersKeepsTheTableBounded) {
  AnnounceBook book(9000, 1, true);
  book.Set(kSha, true, true, 0);
  for (uint32_t i = 0; i < 3 * AnnounceBook::kMaxHeard; ++i)
    book.Hear({kSha, static_cast<uint16_t>(1 + i % 60000), 2 + i}, "10.0.0.1", i / 100);
  EXPECT_EQ(book.HeardCount(), AnnounceBook::kMaxHeard);
  // All forgotten after the silence, the newest last.
  book.Hear({kSha, 1, 7}, "10.0.0.2", 3 * AnnounceBook::kMaxHeard / 100 + AnnounceBook::kForgetMs + 1);
  EXPECT_EQ(book.HeardCount(), 1u);
}

uint32_t Ip(const char* text) {
  unsigned a, b, c, d;
  sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
  return a << 24 | b << 16 | c << 8 | d;
}

TEST(PeerOnLocalNet, OnlyNeighboursOnTheInterfaceThatHeardThem) {
  const std::vector<LocalNet> nets = {{Ip("127.0.0.1"), Ip("255.0.0.0"), 1},
                                      {Ip("192.168.1.5"), Ip("255.255.255.0"), 2},
                                      {Ip("169.254.3.4"), Ip("255.255.0.0"), 2},
                                      {Ip("10.1.0.7"), Ip("255.255.0.0"), 3}};
  struct Case {
    const char* peer;
    const char* bound;  // sharing's address; 0.0.0.0: any
    unsigned arrivedOn;
    bool ok;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", 0, true},       {"127.0.0.9", "127.0.0.1", 0, true},
      {"10.9.8.7", "127.0.0.1", 0, false},       {"169.254.169.254", "127.0.0.1", 0, false},
      {"192.168.1.9", "192.168.1.5", 2, true},   {"192.168.2.9", "192.168.1.5", 2, false},
      {"192.168.1.255", "192.168.1.5", 2, false}, {"192.168.1.0", "192.168.1.5", 2, false},
      {"127.0.0.1", "192.168.1.5", 2, false},    {"169.254.169.254", "192.168.1.5", 2, false},
      {"169.254.9.9", "169.254.3.4", 2, true},   {"192.168.1.9", "0.0.0.0", 2, true},
      {"192.168.1.9", "0.0.0.0", 3, false},      {"10.1.200.3", "0.0.0.0", 3, true},
      {"10.1.200.3", "0.0.0.0", 0, true},        {"127.0.0.1", "0.0.0.0", 1, false},
      {"169.254.169.254", "0.0.0.0", 2, false},  {"0.0.0.0", "0.0.0.0", 0, false},
      {"255.255.255.255", "0.0.0.0", 0, false},  {"239.255.71.71", "0.0.0.0", 0, false},
      {"10.1.0.7", "192.168.9.9", 0, false},  // sharing on an address no interface has
  };
  for (const Case& c : cases)
    EXPECT_EQ(PeerOnLocalNet(Ip(c.peer), Ip(c.bound), c.arrivedOn, nets), c.ok) << c.peer << " bound " << c.bound;
}

// Real sockets, multicast held to the loopback interface.
class Found {
 public:
  LanAnnouncer::PeerFound Callback() {
    return [this](const std::string& sha, const std::string& address, uint16_t port) {
      std::lock_guard<std::mutex> hold(m_lock);
      m_heard.insert(sha + " " + address + " " + std::to_string(port));
      m_changed.notify_all();
    };
  }
  // Waits until something was heard, then tells all of it.
  std::set<std::string> Wait(int ms) {
    std::unique_lock<std::mutex> hold(m_lock);
    m_changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return !m_heard.empty(); });
    return m_heard;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::set<std::string> m_heard;
};

LanAnnouncer::Options OnLoopback(uint16_t udpPort, uint16_t sharePort, bool speaks) {
  LanAnnouncer::Options options;
  options.udpPort = udpPort;
  options.interfaceAddress = "127.0.0.1";
  options.sharePort = sharePort;
  options.speaks = speaks;
  return options;
}

TEST(LanAnnouncer, NeighboursOnOneMachineFindEachOtherAndASilentOneIsNeverHeard) {
  const uint16_t udpPort = static_cast<uint16_t>(40000 + std::random_device()() % 20000);
  Found sharerHeard, fetcherHeard, silentHeard;
  LanAnnouncer sharer(OnLoopback(udpPort, 7001, true), sharerHeard.Callback());
  LanAnnouncer silent(OnLoopback(udpPort, 7003, false), silentHeard.Callback());
  ASSERT_TRUE(sharer.Start());
  ASSERT_TRUE(silent.Start());
  sharer.Set(kSha, false, true);
  silent.Set(kOther, false, true);  // shares, but sharing is off: never said
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  // A fetcher that comes later announces itself; the sharer answers at once
  // instead of after its period, and the silent one hears the sharer too.
  silent.Set(kSha, true, false);
  LanAnnouncer fetcher(OnLoopback(udpPort, 7002, true), fetcherHeard.Callback());
  ASSERT_TRUE(fetcher.Start());
  fetcher.Set(kSha, true, false);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(fetcherHeard.Wait(3000), std::set<std::string>({kSha + " 127.0.0.1 7001"}));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  // A fetcher shares the pieces it has verified, so it is a source as well.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(silentHeard.Wait(3000), std::set<std::string>({kSha + " 127.0.0.1 7001", kSha + " 127.0.0.1 7002"}));

  // The silent process shares kOther but never says so; and a sharer takes
  // no fetcher for a source.
  fetcher.Set(kOther, true, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(fetcherHeard.Wait(0), std::set<std::string>({kSha + " 127.0.0.1 7001"}));
  EXPECT_TRUE(sharerHeard.Wait(0).empty());
  silent.Stop();
  fetcher.Stop();
  sharer.Stop();
}

#ifndef _WIN32
// A datagram sent straight to the port, not to the group, is no announce.
TEST(LanAnnouncer, HearsOnlyWhatIsSentToTheGroup) {
  const uint16_t udpPort = static_cast<uint16_t>(40000 + std::random_device()() % 20000);
  Found heard;
  LanAnnouncer fetcher(OnLoopback(udpPort, 7002, false), heard.Callback());
  ASSERT_TRUE(fetcher.Start());
  fetcher.Set(kSha, true, false);
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof(loopback)), 0);
  auto send = [&](const char* to, uint16_t sharePort) {
    const std::string datagram = FormatAnnounce({kSha, sharePort, 99});
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(udpPort);
    inet_pton(AF_INET, to, &where.sin_addr);
    sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&where), sizeof(where));
  };
  send("127.0.0.1", 7100);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  send("239.255.71.71", 7101);
  EXPECT_EQ(heard.Wait(3000), std::set<std::string>({kSha + " 127.0.0.1 7101"}));
  close(s);
  fetcher.Stop();
}
#endif

}  // namespace
}  // namespace p2sp
