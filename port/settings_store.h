#pragma once
// Where a port saves and restores its settings (TCustomComPort::SaveSettings and
// RestoreSettings, defined in settings_store.cpp): an INI file or the registry-style store.
//
// The port writes the groups of its StoredGroups in a fixed order of groups and keys, and reads
// them back through its setters inside one settings update. Every failure inside save becomes
// EComPort kErrStoreSettings, inside restore EComPort kErrLoadSettings; the first error's
// message is not kept. Used on the port's thread.

#include <cstdint>
#include <filesystem>

namespace velmora::port {

enum TComStoreKind : uint8_t { skRegistry, skIniFile };

class IniFile;
class RegistryStore;

}  // namespace velmora::port
