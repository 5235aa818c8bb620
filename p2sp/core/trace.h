#pragma once

namespace p2sp {

// P2SP_DEBUG=1 in the environment traces the engine's decisions on standard error.
void Debug(const char* format, ...);

}  // namespace p2sp
