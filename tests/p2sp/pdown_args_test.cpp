#include "cli/pdown_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <typename Char>
bool Parse(std::vector<std::basic_string<Char>> words, p2sp::PdownArgs<Char>* out) {
  std::vector<Char*> argv;
  static Char program[] = {'p', 0};
  argv.push_back(program);
  for (auto& w : words) argv.push_back(&w[0]);
  return p2sp::ParsePdownArgs(static_cast<int>(argv.size()), argv.data(), out);
}

TEST(PdownArgsTest, OptionsAnywhereAndBothNames) {
  p2sp::PdownArgs<char> a;
  ASSERT_TRUE(Parse<char>({"--quiet", "http://h/f", "--connections", "4", "--seed", "http://s/", "out.bin",
                           "--retries", "0", "--stall-timeout", "30"},
                          &a));
  EXPECT_EQ("http://h/f", a.link);
  EXPECT_EQ("out.bin", a.target);
  EXPECT_EQ("http://s/", a.seed);
  EXPECT_EQ(4, a.connections);
  EXPECT_EQ(0, a.retries);
  EXPECT_EQ(30, a.stallSeconds);
  EXPECT_TRUE(a.quiet);

  p2sp::PdownArgs<char> defaults;
  ASSERT_TRUE(Parse<char>({"l", "t"}, &defaults));
  EXPECT_EQ(0, defaults.connections);
  EXPECT_EQ(-1, defaults.retries);
  EXPECT_FALSE(defaults.quiet);
  EXPECT_TRUE(defaults.share);
  EXPECT_EQ(-1, defaults.uploadCap);

  p2sp::PdownArgs<char> sharing;
  ASSERT_TRUE(Parse<char>({"--no-share", "--upload-cap", "0", "--peers-served", "16", "--share-on", "127.0.0.1",
                           "--linger", "5", "--max-speed", "524288", "l", "t"},
                          &sharing));
  EXPECT_FALSE(sharing.share);
  EXPECT_EQ(0, sharing.uploadCap);
  EXPECT_EQ(16, sharing.peersServed);
  EXPECT_EQ("127.0.0.1", sharing.shareOn);
  EXPECT_EQ(5, sharing.lingerSeconds);
  EXPECT_EQ(524288, sharing.maxSpeed);
}

TEST(PdownArgsTest, WideArgumentsReadTheSameWay) {
  p2sp::PdownArgs<wchar_t> a;
  ASSERT_TRUE(Parse<wchar_t>({L"--connections", L"16", L"链接", L"-"}, &a));
  EXPECT_EQ(L"链接", a.link);
  EXPECT_EQ(L"-", a.target) << "a lone dash is a name";
  EXPECT_EQ(16, a.connections);
}

TEST(PdownArgsTest, ByteOptionsTakeBinaryMultiples) {
  struct Row {
    const char* option;
    const char* text;
    long long want;  // -1: refused
  };
  const Row rows[] = {
      {"--max-speed", "4M", 4194304},         {"--upload-cap", "512K", 524288},
      {"--max-speed", "1g", 1073741824},      {"--upload-cap", "2mb/s", 2097152},
      {"--max-speed", "1.5M", 1572864},       {"--max-speed", "64KiB", 65536},
      {"--upload-cap", "0", 0},               {"--max-speed", "4X", -1},
      {"--max-speed", "1.5", -1},             {"--upload-cap", "-1K", -1},
      {"--max-speed", "M", -1},               {"--max-speed", "2G", -1},
      {"--max-speed", "17179869184G", -1},    {"--upload-cap", "99999999999999999999K", -1},
  };
  for (const Row& r : rows) {
    p2sp::PdownArgs<char> a;
    const bool ok = Parse<char>({r.option, r.text, "l", "t"}, &a);
    EXPECT_EQ(r.want >= 0, ok) << r.option << " " << r.text;
    if (ok) {
      EXPECT_EQ(r.want, r.option[2] == 'm' ? a.maxSpeed : a.uploadCap) << r.option << " " << r.text;
    } else {
      EXPECT_STREQ(r.option, a.badOption);  // the message names the option and the value
      EXPECT_EQ(r.text, a.badValue);
    }
  }
}

TEST(PdownArgsTest, RefusesWhatItCannotUse) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"only-link"},
      {"l", "t", "extra"},
      {"l", "t", "--unknown"},
      {"l", "t", "--seed"},
      {"l", "t", "--connections"},
      {"l", "t", "--connections", "0"},
      {"l", "t", "--connections", "-3"},
      {"l", "t", "--connections", "4x"},
      {"l", "t", "--connections", ""},
      {"l", "t", "--retries", "1000001"},
      {"l", "t", "--stall-timeout", "0"},
      {"l", "t", "--peers-served", "17"},
      {"l", "t", "--peers-served", "0"},
      {"l", "t", "--upload-cap", "2147483648"},
      {"l", "t", "--max-speed", "2147483648"},
      {"l", "t", "--max-speed"},
      {"l", "t", "--share-on", ""},
      {"l", "t", "--retries", "99999999999999999999"},
  };
  for (const auto& words : bad) {
    p2sp::PdownArgs<char> a;
    std::string joined;
    for (const auto& w : words) joined += "[" + w + "]";
    EXPECT_FALSE(Parse<char>(words, &a)) << joined;
  }
}

}  // namespace
