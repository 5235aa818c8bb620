#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace p2sp {

// One download at a time per target path, even across tasks made for it: the
// same mutex for the same path while anyone holds it.
std::shared_ptr<std::mutex> PathMutex(const std::string& path);

}  // namespace p2sp
