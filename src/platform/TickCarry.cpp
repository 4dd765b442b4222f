#include "platform/TickCarry.h"

namespace movrel::platform {

std::uint64_t TickCarry::Extend(std::uint32_t now) {
  const Hold hold(lock);
  if (now < last) ++wraps;
  last = now;
  return (wraps << 32) | now;
}

}  // namespace movrel::platform
