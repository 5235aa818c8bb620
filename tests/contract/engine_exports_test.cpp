#include "contract/engine_exports.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace engine_contract;

namespace {

int g_answer = 0;
void GD_ENGINE_CALL InitStub(int) {}
int GD_ENGINE_CALL Answer() { return g_answer; }

}  // namespace

// Every one of the thirteen names is looked up once and lands in its own slot;
// a module without one of them is not complete.
TEST(EngineExports, ResolveFillsEverySlotByItsName) {
  std::map<std::string, int> asked;
  auto lookup = [&asked](const char* name) {
    ++asked[name];
    return reinterpret_cast<void (*)()>(std::string(name) == "Init" ? reinterpret_cast<void (*)()>(&InitStub)
                                                                    : reinterpret_cast<void (*)()>(&Answer));
  };
  EngineExports exports;
  ResolveExports(lookup, &exports);
  ASSERT_EQ(asked.size(), kExportCount);
  for (const char* name : kExportNames) EXPECT_EQ(asked[name], 1) << name;
  EXPECT_TRUE(exports.Complete());
  EXPECT_EQ(exports.Init, &InitStub);
  g_answer = 0;
  EXPECT_EQ(exports.Login(), 0);

  for (const char* missing : kExportNames) {
    EngineExports partial;
    ResolveExports(
        [&](const char* name) { return std::string(name) == missing ? nullptr : lookup(name); }, &partial);
    EXPECT_FALSE(partial.Complete()) << missing;
  }
}
