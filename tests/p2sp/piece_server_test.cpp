#include "core/piece_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace p2sp {
namespace {

const std::string kHash(64, 'a');
const std::string kOther(64, 'b');
const std::string kWhole(64, 'c');  // every piece verified

TEST(TokenBucket, GrantsFollowTheClockInTenMillisecondSteps) {
  struct Step {
    uint64_t now, want, got;
  };
  struct Case {
    const char* name;
    uint64_t rate, burst;
    std::vector<Step> steps;
  } cases[] = {
      {"starts full, then nothing until a step passes", 1000, 100, {{0, 150, 100}, {0, 10, 0}, {9, 10, 0}, {10, 50, 10}}},
      {"a long idle fills only up to the burst", 1000, 100, {{0, 100, 100}, {60000, 500, 100}, {60000, 1, 0}}},
      {"fractions carry over steps", 150, 10, {{0, 10, 10}, {10, 10, 1}, {20, 10, 2}, {30, 10, 1}, {40, 10, 2}}},
      {"a clock that goes back adds nothing", 1000, 100, {{500, 100, 100}, {400, 100, 0}, {505, 100, 0}, {510, 100, 10}}},
      {"no cap", 0, 0, {{0, 1u << 30, 1u << 30}, {0, 5, 5}}},
  };
  for (const Case& c : cases) {
    TokenBucket bucket(c.rate, c.burst, c.steps.front().now);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      EXPECT_EQ(bucket.Take(c.steps[i].want, c.steps[i].now), c.steps[i].got) << c.name << ", step " << i;
    }
  }
}

TEST(TokenBucket, LongRunsKeepTheRateAndWaitsPointAtTheNextGrant) {
  for (uint64_t rate : {1000ull, 150000ull, 1ull << 20, 3ull << 20}) {
    // A sender that takes whatever there is and sleeps as told, on a fake clock.
    TokenBucket bucket(rate, rate / 10 + 1, 0);
    uint64_t now = 0, sent = 0;
    while (now < 10000) {
      uint64_t got = bucket.Take(64 * 1024, now);
      sent += got;
      uint64_t wait = bucket.WaitMs(now);
      if (got == 0) {
        ASSERT_GT(wait, 0u) << "rate " << rate << " at " << now;
      }
      now += wait ? wait : 1;
    }
    uint64_t expected = rate / 10 + 1 + rate * 10;
    EXPECT_LE(sent, expected) << "rate " << rate;
    EXPECT_GE(sent + rate / 50 + 1, expected) << "rate " << rate;
  }
}

TEST(PieceServer, RangeHeaders) {
  struct Case {
    const char* header;
    uint64_t size;
    bool ok;
    ByteRange want;
  } cases[] = {
      {"bytes=0-99", 1000, true, {0, 100}},
      {"bytes=990-", 1000, true, {990, 1000}},
      {"bytes=900-5000", 1000, true, {900, 1000}},
      {"bytes=-10", 1000, true, {990, 1000}},
      {"bytes=-5000", 1000, true, {0, 1000}},
      {"bytes=999-999", 1000, true, {999, 1000}},
      {"bytes=5000000000-5000000009", 6000000000ull, true, {5000000000ull, 5000000010ull}},
      {"bytes=1000-", 1000, false, {}},
      {"bytes=-0", 1000, false, {}},
      {"bytes=5-4", 1000, false, {}},
      {"bytes=0-1,5-6", 1000, false, {}},
      {"bytes=a-b", 1000, false, {}},
      {"bytes=+1-2", 1000, false, {}},
      {"bytes= 1-2", 1000, false, {}},
      {"items=0-1", 1000, false, {}},
      {"bytes=0-99999999999999999999", 1000, false, {}},
      {"bytes=0-0", 0, false, {}},
      {"bytes=-1", 0, false, {}},
      {"", 1000, false, {}},
  };
  for (const Case& c : cases) {
    ByteRange got;
    EXPECT_EQ(ParseRangeHeader(c.header, c.size, &got), c.ok) << c.header;
    if (c.ok) {
      EXPECT_EQ(got, c.want) << c.header;
    }
  }
}

// Four pieces of 100 bytes and a last one of 50; piece 2 not verified.
PieceMap TestMap() { return {450, 100, {true, true, false, true, true}}; }

TEST(PieceServer, Decisions) {
  std::string upper = "/p/" + std::string(64, 'A');
  struct Case {
    const char* method;
    std::string path;
    const char* range;  // null: no Range header
    int status;
    ByteRange bytes;
  } cases[] = {
      // At most one piece per answer, the one the range starts in, cut at its end.
      {"GET", "/p/" + kHash, "bytes=0-199", 206, {0, 100}},
      {"GET", "/p/" + kHash, "bytes=0-", 206, {0, 100}},
      {"GET", "/p/" + kWhole, "bytes=0-", 206, {0, 100}},
      {"GET", "/p/" + kWhole, "bytes=-1000", 206, {0, 100}},
      {"GET", "/p/" + kWhole, "bytes=0-449", 206, {0, 100}},
      {"GET", "/p/" + kHash, "bytes=-1000", 206, {0, 100}},
      {"GET", "/p/" + kHash, "bytes=-120", 206, {330, 400}},
      {"HEAD", "/p/" + kHash, "bytes=300-", 206, {300, 400}},
      {"GET", upper, "bytes=-10", 206, {440, 450}},
      {"GET", "/p/" + kHash, "bytes=150-250", 206, {150, 200}},
      {"GET", "/p/" + kHash, "bytes=200-200", 416, {}},
      {"GET", "/p/" + kHash, "bytes=250-", 416, {}},
      {"GET", "/p/" + kHash, "bytes=-170", 416, {}},
      {"GET", "/p/" + kHash, "bytes=0-1,3-4", 416, {}},
      {"GET", "/p/" + kHash, nullptr, 404, {}},
      {"GET", "/p/" + kOther, "bytes=0-1", 404, {}},
      {"GET", "/m/" + kOther, nullptr, 404, {}},
      {"GET", "/m/" + kHash, nullptr, 200, {}},
      {"HEAD", "/m/" + kHash, "bytes=0-1", 200, {}},
      {"GET", "/p/../etc/passwd", "bytes=0-1", 404, {}},
      {"GET", "/p/" + kHash + "/", "bytes=0-1", 404, {}},
      {"GET", "/p/" + kHash.substr(1), "bytes=0-1", 404, {}},
      {"GET", "/p/" + kHash.substr(2) + "%2e", "bytes=0-1", 404, {}},
      {"GET", "/P/" + kHash, "bytes=0-1", 404, {}},
      {"GET", "//p/" + kHash, "bytes=0-1", 404, {}},
      {"GET", "/x/" + kHash, "bytes=0-1", 404, {}},
      {"GET", "", nullptr, 404, {}},
      {"POST", "/p/" + kHash, "bytes=0-1", 405, {}},
      {"DELETE", "/m/" + kHash, nullptr, 405, {}},
      {"get", "/p/" + kHash, "bytes=0-1", 405, {}},
  };
  for (const Case& c : cases) {
    std::string range = c.range ? c.range : "";
    std::string asked;
    ServeDecision d = DecideServe(c.method, c.path, c.range ? &range : nullptr,
                                  [&](const std::string& sha256, PieceMap* map) {
                                    asked = sha256;
                                    if (sha256 != kHash && sha256 != kWhole) return false;
                                    *map = TestMap();
                                    if (sha256 == kWhole) map->verified.assign(5, true);
                                    return true;
                                  });
    std::string name = std::string(c.method) + " " + c.path.substr(0, 80) + " " + range;
    EXPECT_EQ(d.status, c.status) << name;
    EXPECT_EQ(d.kind == ServeDecision::kBytes, c.status == 206) << name;
    if (c.status == 206) {
      EXPECT_EQ(d.range, c.bytes) << name;
    }
    // Hashes are looked up in lower case whatever the request wrote.
    EXPECT_TRUE(asked.empty() || asked == kHash || asked == kOther || asked == kWhole) << name << " looked up " << asked;
  }
}

TEST(PieceServer, PieceMapsCoverAndRoundTrip) {
  PieceMap map = TestMap();
  struct Cover {
    uint64_t begin, end;
    bool covered;
  } covers[] = {{0, 200, true}, {199, 201, false}, {300, 450, true}, {300, 451, false},
                {0, 0, false},  {450, 450, false}, {250, 260, false}};
  for (const Cover& c : covers) EXPECT_EQ(map.Covers(c.begin, c.end), c.covered) << c.begin << "-" << c.end;

  std::string text = FormatPieceMap(map);
  EXPECT_EQ(text, "pieces 1\nsize 450\npiece 100\nmap 11011\n");
  PieceMap back;
  ASSERT_TRUE(ParsePieceMap(text, &back));
  EXPECT_EQ(back.size, 450u);
  EXPECT_EQ(back.pieceLength, 100u);
  EXPECT_EQ(back.verified, map.verified);
  EXPECT_TRUE(ParsePieceMap("pieces 1\nsize 0\npiece 4194304\nmap \n", &back));
  EXPECT_EQ(back.PieceCount(), 0u);

  const char* bad[] = {
      "pieces 1\nsize 450\npiece 100\nmap 1101\n",    "pieces 1\nsize 450\npiece 100\nmap 110111\n",
      "pieces 1\nsize 450\npiece 100\nmap 11x11\n",   "pieces 2\nsize 450\npiece 100\nmap 11011\n",
      "pieces 1\nsize 450\npiece 0\nmap \n",          "pieces 1\nsize -1\npiece 100\nmap 11011\n",
      "pieces 1\nsize 450\npiece 100\nmap 11011",     "pieces 1\nsize 450\npiece 100\nmap 11011\nmore\n",
      "pieces 1\npiece 100\nsize 450\nmap 11011\n",   "",
  };
  for (const char* text : bad) EXPECT_FALSE(ParsePieceMap(text, &back)) << text;
}

TEST(PieceServer, DiskFilesCountOnlyWholeVerifiedPieces) {
  SharedDiskFile file(450, 100);
  RangeSet verified;
  verified.Add(0, 199);    // piece 1 lacks its last byte
  verified.Add(300, 450);  // pieces 3 and the short last one
  file.SetVerified(verified);
  EXPECT_EQ(file.Map().verified, (std::vector<bool>{true, false, false, true, true}));
  EXPECT_FALSE(file.Open((std::filesystem::temp_directory_path() / "no-such-piece-file").string()));
  char c;
  EXPECT_FALSE(file.Read(0, &c, 1));
}

// --- the server on loopback --------------------------------------------

struct Reply {
  long status = 0;
  std::string body;
  std::string headers;
  CURLcode code = CURLE_OK;
};

size_t Append(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

using HeaderSink = std::pair<std::string*, std::atomic<bool>*>;

size_t TakeHeader(char* data, size_t size, size_t count, void* out) {
  auto* sink = static_cast<HeaderSink*>(out);
  sink->first->append(data, size * count);
  if (sink->second && size * count == 2) *sink->second = true;  // the blank line after the headers
  return size * count;
}

// `from`: the source address, as CURLOPT_INTERFACE takes it.
Reply Fetch(uint16_t port, const std::string& path, const char* method = "GET", const char* range = nullptr,
            std::atomic<bool>* started = nullptr, const char* from = nullptr) {
  Reply r;
  CURL* curl = curl_easy_init();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  if (from) curl_easy_setopt(curl, CURLOPT_INTERFACE, from);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &TakeHeader);
  HeaderSink headerSink{&r.headers, started};
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headerSink);
  if (std::string(method) == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (std::string(method) != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  }
  curl_slist* list = nullptr;
  if (range) {
    list = curl_slist_append(list, (std::string("Range: ") + range).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  }
  r.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
  curl_slist_free_all(list);
  curl_easy_cleanup(curl);
  return r;
}

// A bare connection that sends what the test says, when it says.
class RawConnection {
 public:
  ~RawConnection() { curl_easy_cleanup(m_curl); }
  bool Open(uint16_t port, const std::string& from) {
    m_curl = curl_easy_init();
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(m_curl, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(m_curl, CURLOPT_INTERFACE, from.c_str());
    return curl_easy_perform(m_curl) == CURLE_OK;
  }
  bool Send(const std::string& text) {
    size_t sent = 0;
    return curl_easy_send(m_curl, text.data(), text.size(), &sent) == CURLE_OK && sent == text.size();
  }
  // Takes what has arrived; false once the server has closed the connection.
  bool Drain(std::string* got = nullptr) {
    char buffer[4096];
    for (;;) {
      size_t n = 0;
      CURLcode code = curl_easy_recv(m_curl, buffer, sizeof buffer, &n);
      if (code == CURLE_AGAIN) return true;
      if (code != CURLE_OK || n == 0) return false;
      if (got) got->append(buffer, n);
    }
  }

 private:
  CURL* m_curl = nullptr;
};

class PieceServerLoopback : public ::testing::Test {
 protected:
  static constexpr uint64_t kPiece = 64 * 1024;
  static constexpr uint64_t kSize = 9 * kPiece + 1000;  // ten pieces, the last one short

  void SetUp() override {
    std::mt19937 random(7);
    content.resize(kSize);
    for (char& c : content) c = static_cast<char>(random());
    path = (std::filesystem::temp_directory_path() /
            ("piece-server-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
               .string();
    std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    UsePieces(kPiece);
  }
  // Answers last longer with longer pieces: one answer is one piece at most.
  void UsePieces(uint64_t length) {
    file = std::make_shared<SharedDiskFile>(kSize, length);
    ASSERT_TRUE(file->Open(path));
    VerifyAllBut(5);
  }
  void TearDown() override {
    server.Stop();
    file.reset();
    std::filesystem::remove(path);
  }
  void VerifyAllBut(uint64_t piece) {
    RangeSet verified;
    verified.Add(0, piece * kPiece);
    verified.Add((piece + 1) * kPiece, kSize);
    file->SetVerified(verified);
  }
  void StartServer(uint64_t rate, unsigned peers, uint64_t headerMs = 5000, unsigned perAddress = 4) {
    PieceServerOptions options;
    options.headerTimeoutMs = headerMs;
    options.maxConnectionsPerAddress = perAddress;
    options.bindAddress = "127.0.0.1";
    options.uploadBytesPerSecond = rate;
    options.maxPeers = peers;
    std::string why;
    ASSERT_TRUE(server.Start(options, &why)) << why;
    ASSERT_NE(server.Port(), 0);
    ASSERT_TRUE(server.Register(kHash, file));
  }
  std::string Bytes(uint64_t begin, uint64_t end) { return content.substr(begin, end - begin); }

  std::string content, path;
  std::shared_ptr<SharedDiskFile> file;
  PieceServer server;
};

TEST_F(PieceServerLoopback, AnswersEachRoute) {
  StartServer(0, 4);
  const std::string p = "/p/" + kHash;
  std::string map = "pieces 1\nsize " + std::to_string(kSize) + "\npiece 65536\nmap 1111101111\n";
  struct Case {
    const char* method;
    std::string path;
    const char* range;
    long status;
    std::string body;
  } cases[] = {
      {"GET", p, "bytes=0-99", 206, Bytes(0, 100)},
      {"GET", p, "bytes=65530-65545", 206, Bytes(65530, 65536)},
      {"GET", p, "bytes=0-327679", 206, Bytes(0, kPiece)},
      {"GET", p, "bytes=0-", 206, Bytes(0, kPiece)},
      {"GET", p, "bytes=-99999999", 206, Bytes(0, kPiece)},
      {"GET", p, "bytes=-10", 206, Bytes(kSize - 10, kSize)},
      {"GET", "/p/" + std::string(64, 'A'), "bytes=6-9", 206, Bytes(6, 10)},
      {"HEAD", p, "bytes=0-99", 206, ""},
      {"GET", p, "bytes=327679-327680", 206, Bytes(327679, 327680)},
      {"GET", p, "bytes=327680-327690", 416, "range not satisfiable\n"},
      {"GET", p, nullptr, 404, "not found\n"},
      {"GET", "/p/" + kOther, "bytes=0-9", 404, "not found\n"},
      {"GET", "/p/../etc/passwd", "bytes=0-9", 404, "not found\n"},
      {"GET", "/p/%2e%2e/%2e%2e/etc/passwd", "bytes=0-9", 404, "not found\n"},
      {"GET", "/p/" + kHash.substr(3) + "%61%61%61", "bytes=0-9", 404, "not found\n"},
      {"GET", "/p/" + kHash + "/../../etc/passwd", "bytes=0-9", 404, "not found\n"},
      {"GET", "/p/" + std::string(4000, 'a'), "bytes=0-9", 404, "not found\n"},
      {"GET", "/", nullptr, 404, "not found\n"},
      {"GET", "/m/", nullptr, 404, "not found\n"},
      {"POST", p, "bytes=0-9", 405, "method not allowed\n"},
      {"PUT", "/m/" + kHash, nullptr, 405, "method not allowed\n"},
      {"GET", "/m/" + kHash, nullptr, 200, map},
      {"GET", "/m/" + kHash + "?x=1", nullptr, 200, map},
  };
  for (const Case& c : cases) {
    Reply r = Fetch(server.Port(), c.path, c.method, c.range);
    std::string name = std::string(c.method) + " " + c.path.substr(0, 80) + " " + (c.range ? c.range : "");
    EXPECT_EQ(r.code, CURLE_OK) << name;
    EXPECT_EQ(r.status, c.status) << name;
    EXPECT_TRUE(r.body == c.body) << name << ": " << r.body.size() << " bytes, wanted " << c.body.size();
  }
  Reply head = Fetch(server.Port(), p, "HEAD", "bytes=0-99");
  EXPECT_NE(head.headers.find("Content-Length: 100\r\n"), std::string::npos) << head.headers;
  EXPECT_NE(head.headers.find("Content-Range: bytes 0-99/" + std::to_string(kSize)), std::string::npos);
  // Longer than a request may be: refused by the library itself, never answered with bytes.
  Reply huge = Fetch(server.Port(), "/p/" + std::string(200000, 'a'), "GET", "bytes=0-9");
  EXPECT_GE(huge.status, 400);
  EXPECT_EQ(server.BytesServed(), 100 + 6 + 3 * kPiece + 10 + 4 + 1u);
}

TEST_F(PieceServerLoopback, PeersBeyondTheLimitWaitTheirTurnAndTheCapHolds) {
  const uint64_t rate = 400 * 1024;
  UsePieces(4 * kPiece);
  StartServer(rate, 2);
  const char* range = "bytes=0-262143";  // four pieces each
  std::atomic<bool> started[2] = {{false}, {false}};
  Reply slow[2];
  auto begin = std::chrono::steady_clock::now();
  std::thread peers[2];
  for (int i = 0; i < 2; ++i) {
    peers[i] = std::thread([&, i] { slow[i] = Fetch(server.Port(), "/p/" + kHash, "GET", range, &started[i]); });
  }
  while (!started[0] || !started[1]) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  Reply third = Fetch(server.Port(), "/p/" + kHash, "GET", "bytes=0-9");
  EXPECT_EQ(third.status, 503);
  EXPECT_EQ(Fetch(server.Port(), "/m/" + kHash).status, 200);  // maps are not held back
  for (std::thread& t : peers) t.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  for (const Reply& r : slow) {
    EXPECT_EQ(r.status, 206);
    EXPECT_TRUE(r.body == Bytes(0, 4 * kPiece));
  }
  // 512 KiB at 400 KiB/s, less the 64 KiB the bucket starts with.
  EXPECT_GE(seconds, (2.0 * 4 * kPiece - 64 * 1024) / rate * 0.9);
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(Fetch(server.Port(), "/p/" + kHash, "GET", "bytes=0-9").status, 206);
}

TEST_F(PieceServerLoopback, AnswersUnderWayStopWhenTheirBytesMayNoLongerLeave) {
  UsePieces(4 * kPiece);
  StartServer(200 * 1024, 4);
  struct Case {
    const char* name;
    std::function<void()> change;
    long statusAfter;
  } cases[] = {
      {"a piece is forgotten", [&] { VerifyAllBut(2); }, 416},
      {"the file is withdrawn", [&] { server.Unregister(kHash); }, 404},
      {"serving pauses", [&] { server.SetPaused(true); }, 503},
      // Last: nothing listens afterwards, so the fetch after it gets no status at all.
      {"the server stops", [&] {
         auto begin = std::chrono::steady_clock::now();
         server.Stop();
         EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500)) << "Stop waited";
       }, 0},
  };
  for (const Case& c : cases) {
    VerifyAllBut(5);
    server.SetPaused(false);
    server.Register(kHash, file);
    uint16_t port = server.Port();
    std::atomic<bool> started{false};
    Reply r;
    std::thread peer([&] { r = Fetch(port, "/p/" + kHash, "GET", "bytes=0-262143", &started); });
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    c.change();
    peer.join();
    EXPECT_EQ(r.status, 206) << c.name;
    EXPECT_NE(r.code, CURLE_OK) << c.name;
    EXPECT_LT(r.body.size(), 3 * kPiece) << c.name;
    EXPECT_TRUE(r.body == Bytes(0, r.body.size())) << c.name;
    EXPECT_EQ(Fetch(port, "/p/" + kHash, "GET", "bytes=131072-196607").status, c.statusAfter) << c.name;
  }
}

TEST_F(PieceServerLoopback, HeadersTrickledTooSlowlyCloseTheConnection) {
  StartServer(0, 4, 300);
  const std::string request = "GET /m/" + kHash + " HTTP/1.1\r\nHost: a\r\n\r\n";
  // From the connection's start, and from the end of an answer on a kept-alive one.
  for (bool answeredFirst : {false, true}) {
    RawConnection slow;
    ASSERT_TRUE(slow.Open(server.Port(), "127.0.0.1"));
    if (answeredFirst) {
      ASSERT_TRUE(slow.Send(request));
    }
    auto begin = std::chrono::steady_clock::now();
    std::string got;
    bool open = true;
    for (size_t i = 0; open && i < request.size() && std::chrono::steady_clock::now() - begin < std::chrono::seconds(3);
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      open = slow.Drain(&got) && slow.Send(request.substr(i, 1));
    }
    EXPECT_FALSE(open) << answeredFirst;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1500)) << answeredFirst;
    EXPECT_EQ(got.compare(0, 12, answeredFirst ? "HTTP/1.1 200" : ""), 0) << got.substr(0, 40);
  }
}

// Not in the Windows build: under Wine the idle connections closed to make
// room did not give their slots to the new one within a minute (the header
// limit's closing, above, holds there). Not yet checked on Windows itself.
#ifndef _WIN32
TEST_F(PieceServerLoopback, IdleConnectionsGiveWayToNewPeers) {
  StartServer(0, 1, 10000);  // room for 17 connections
  if (!RawConnection().Open(server.Port(), "127.0.0.2")) {
    GTEST_SKIP() << "127.0.0.2 cannot be a source address here";
  }
  struct Case {
    const char* name;
    int addresses;  // the idle connections come from 127.0.0.10 and up
  } cases[] = {{"all from one address", 1}, {"from more addresses than there is room", 20}};
  for (const Case& c : cases) {
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 40; ++i) {
      idle.push_back(std::make_unique<RawConnection>());
      ASSERT_TRUE(idle.back()->Open(server.Port(), "127.0.0." + std::to_string(10 + i % c.addresses)));
    }
    for (const char* from : {"127.0.0.2", "127.0.0.10"}) {
      auto begin = std::chrono::steady_clock::now();
      // The one answer slot of the request before may be given back a moment
      // after its client has its bytes: a 503 then is asked again.
      Reply r = Fetch(server.Port(), "/p/" + kHash, "GET", "bytes=0-9", nullptr, from);
      while (r.status == 503 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(1)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        r = Fetch(server.Port(), "/p/" + kHash, "GET", "bytes=0-9", nullptr, from);
      }
      EXPECT_EQ(r.status, 206) << c.name << ", from " << from;
      EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2)) << c.name << ", from " << from;
    }
    // At most four of one address stay, and no more than there is room for.
    size_t open = 0;
    for (auto wait = std::chrono::steady_clock::now() + std::chrono::seconds(2);;) {
      open = 0;
      for (auto& connection : idle) open += connection->Drain() ? 1 : 0;
      if (open <= (c.addresses == 1 ? 4u : 17u) || std::chrono::steady_clock::now() > wait) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LE(open, c.addresses == 1 ? 4u : 17u) << c.name;
  }
}
#endif

TEST_F(PieceServerLoopback, AnAddressWhoseConnectionsAreAllAnsweringIsToldToWait) {
  UsePieces(4 * kPiece);
  StartServer(200 * 1024, 4, 5000, 1);
  std::atomic<bool> started{false};
  Reply slow;
  std::thread peer([&] { slow = Fetch(server.Port(), "/p/" + kHash, "GET", "bytes=0-262143", &started); });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  Reply second = Fetch(server.Port(), "/p/" + kHash, "GET", "bytes=0-9");
  peer.join();
  EXPECT_EQ(second.status, 503);
  EXPECT_NE(second.headers.find("Retry-After: 5"), std::string::npos) << second.headers;
  EXPECT_TRUE(slow.body == Bytes(0, 4 * kPiece));
}

TEST_F(PieceServerLoopback, BindsTheAskedAddressAndPort) {
  StartServer(0, 4);
  PieceServer second;
  PieceServerOptions options;
  options.bindAddress = "127.0.0.1";
  options.port = server.Port();
  std::string why;
  EXPECT_FALSE(second.Start(options, &why));
  EXPECT_NE(why.find(std::to_string(server.Port())), std::string::npos) << why;
  options.bindAddress = "localhost";
  EXPECT_FALSE(second.Start(options, &why));
  server.Stop();
  EXPECT_EQ(server.Port(), 0);
  options.bindAddress = "127.0.0.1";
  ASSERT_TRUE(second.Start(options, &why)) << why;
  EXPECT_EQ(second.Port(), options.port);
  EXPECT_FALSE(second.Register("xyz", file));
}

}  // namespace
}  // namespace p2sp
