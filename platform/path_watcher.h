#pragma once
// Tells when a file system path appears: a replugged USB adapter's /dev/ttyUSB0 or its
// /dev/serial/by-id/... link, a symbolic link made or re-pointed, a node re-created.
//
// It uses the system's change notification on the folder that holds the path; while that folder
// (or one above it) does not exist, it watches the deepest folder that does and moves down as the
// folders appear (/dev/serial/by-id/ goes away with the last USB serial adapter). Nothing is
// polled: `Descriptor()` becomes readable when a watched folder changes, for poll() or a
// toolkit's socket notifier, and `TakeChanges()` reads what happened.
//
// One thread at a time; the descriptor is closed with the object.

#include <memory>
#include <string>

namespace velmora::platform {

class PathWatcher {
 public:
  // nullptr with `error` set when the system gives no notification (descriptor limit reached).
  static std::unique_ptr<PathWatcher> Create(const std::string& path, int* error = nullptr);

  virtual ~PathWatcher() = default;
  virtual const std::string& Path() const = 0;
  // Readable when something changed in a watched folder; never blocks the reader.
  virtual int Descriptor() const = 0;
  // Reads every pending notification and follows folders that appeared or went. True when the
  // path itself was made, replaced, re-pointed or had its permissions changed since the last call,
  // and exists now (a link that points nowhere does not count).
  virtual bool TakeChanges() = 0;
  // Whether the path (what a link points to) exists now.
  virtual bool PathExists() const = 0;
};

}  // namespace velmora::platform
