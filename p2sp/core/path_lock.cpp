#include "path_lock.h"

#include <map>

namespace p2sp {

std::shared_ptr<std::mutex> PathMutex(const std::string& path) {
  static std::mutex registryMutex;
  static std::map<std::string, std::weak_ptr<std::mutex>> registry;
  std::lock_guard<std::mutex> lock(registryMutex);
  auto& slot = registry[path];
  auto m = slot.lock();
  if (!m) {
    m = std::make_shared<std::mutex>();
    slot = m;
  }
  return m;
}

}  // namespace p2sp
