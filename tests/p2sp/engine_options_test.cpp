#include <gtest/gtest.h>

#include <cstdint>

#include "core/engine.h"

namespace p2sp {
namespace {

TEST(EngineOptions, SharingOptionsTakeOnlyValuesThatMeanSomething) {
  struct Case {
    int option;
    int32_t value;
    bool share;
    uint32_t upload;
    int peers;
  };
  // Each row applies to an engine that has seen the rows before it.
  const Case cases[] = {
      {kOptionPeerSharing, 0, false, 1u << 20, 4},  {kOptionPeerSharing, 7, false, 1u << 20, 4},
      {kOptionPeerSharing, 1, true, 1u << 20, 4},   {kOptionUploadCap, 65536, true, 65536, 4},
      {kOptionUploadCap, -1, true, 65536, 4},       {kOptionUploadCap, 0, true, 0, 4},
      {kOptionMaxPeersServed, 0, true, 0, 4},       {kOptionMaxPeersServed, 40, true, 0, 16},
      {kOptionMaxPeersServed, 2, true, 0, 2},
  };
  Engine engine;
  for (const Case& c : cases) {
    engine.SetOption(c.option, &c.value, 4);
    const SharingOptions now = engine.Sharing();
    EXPECT_EQ(now.share, c.share) << c.option << " " << c.value;
    EXPECT_EQ(now.uploadBytesPerSecond, c.upload) << c.option << " " << c.value;
    EXPECT_EQ(now.maxPeersServed, c.peers) << c.option << " " << c.value;
  }
  const int16_t shortValue = 0;
  engine.SetOption(kOptionPeerSharing, &shortValue, 2);
  EXPECT_TRUE(engine.Sharing().share);
}

}  // namespace
}  // namespace p2sp
