#include <cerrno>

#include "platform/device_directory.h"

namespace velmora::platform {

OpenResult OpenSystemDevice(const std::string& path) {
  return {nullptr, ENOENT, "the system backend is not built yet: " + path};
}

}  // namespace velmora::platform
