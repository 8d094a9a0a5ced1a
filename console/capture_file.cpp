#include "console/capture_file.h"

namespace velmora::console {

bool CaptureFile::Open(const QString& path) {
  if (file_.isOpen()) file_.close();
  file_.setFileName(path);
  // Unbuffered: every write reaches the system at once, which also reports its failure at once
  // (a full disk, a removed medium) instead of at some later flush.
  return file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

bool CaptureFile::Write(std::string_view bytes) {
  if (!file_.isOpen()) return false;
  if (bytes.empty()) return true;
  return file_.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
         static_cast<qint64>(bytes.size());
}

bool CaptureFile::Close() {
  if (!file_.isOpen()) return false;
  file_.unsetError();  // a failed write earlier has been dealt with; this is about the close
  file_.close();
  return file_.error() == QFileDevice::NoError;
}

}  // namespace velmora::console
