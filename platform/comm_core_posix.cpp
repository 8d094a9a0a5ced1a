#include "platform/comm_core.h"

#include <cerrno>

namespace velmora::platform {

std::unique_ptr<CommDevice> MakeCommCore(std::unique_ptr<LineDriver>, int* error) {
  if (error) *error = ENOSYS;
  return nullptr;
}

}  // namespace velmora::platform
