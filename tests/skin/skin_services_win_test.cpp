// The Windows unit tests create skinned windows as the program does after its
// start-up, so the skin's services are installed once before any test.
#include <gtest/gtest.h>

#include "skin/skin_table_win.h"

namespace {

class SkinServices : public ::testing::Environment {
 public:
  void SetUp() override { InstallSkinServices(); }
};

const auto* const kSkinServices = ::testing::AddGlobalTestEnvironment(new SkinServices);

}  // namespace
