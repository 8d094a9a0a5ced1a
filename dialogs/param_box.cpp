#include "dialogs/param_box.h"

namespace velmora::dialogs {

bool ExecuteParamBox(port::TCustomComPort& /*Port*/, int32_t& /*TxDelay*/, int32_t& /*RtsCtsMode*/,
                     int32_t& /*CrLfMode*/, QString& /*EditorPath*/, QFont& /*Font*/,
                     bool /*AllowEdit*/) {
  return false;
}

}  // namespace velmora::dialogs
