// The name by which a drive's device is opened: "\\.\" and the first two characters of its root
// ("D:\" gives "\\.\D:").
#pragma once

#include <array>

namespace movrel::device {

using DeviceName = std::array<char, 7>;

inline DeviceName DeviceNameOf(const char* root) {
  DeviceName name{'\\', '\\', '.', '\\', root[0], root[0] != '\0' ? root[1] : '\0', '\0'};
  return name;
}

}  // namespace movrel::device
