#include "port/com_types.h"

namespace velmora::port {
static_assert(sizeof(TBaudRate) == 1 && sizeof(TComEvent) == 1, "enumerations are one byte");
static_assert(kAllComEvents.Has(evRx80Full) && !kAllComEvents.Has(static_cast<TComEvent>(10)));
}  // namespace velmora::port
