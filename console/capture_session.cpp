#include "console/capture_session.h"

namespace velmora::console {

bool CaptureSession::Start(const QString& path) {
  fileName_ = path;
  active_ = false;
  if (!file_.Open(path)) return false;
  active_ = true;
  writeFailed_ = false;
  return true;
}

bool CaptureSession::Stop() {
  active_ = false;
  return file_.Close();
}

QString CaptureSession::Write(const std::string& shown) {
  const CaptureFile::WriteResult result = file_.Write(shown);
  if (result == CaptureFile::WriteResult::kUnlinked) {
    // The data still goes somewhere, but no one can open it: the operator should know now, not
    // when the viewer finds no file.
    return QStringLiteral("Файл ") + fileName_ +
           QStringLiteral(" удален: принятые данные в него больше не попадают");
  }
  if (result == CaptureFile::WriteResult::kWritten || writeFailed_) return {};
  // Once per capture: the operator learns that the file is incomplete, and what arrives is not
  // shown in the pane meanwhile either.
  writeFailed_ = true;
  return QStringLiteral("Ошибка при записи файла ") + fileName_;
}

QString CaptureSession::StartLine() const {
  return QStringLiteral("Идет запись принятой информации в файл ") + fileName_;
}

QString CaptureSession::OpenFailedLine() const {
  return QStringLiteral("Ошибка при открытии файла ") + fileName_;
}

QString CaptureSession::CloseFailedLine() const {
  return QStringLiteral("Ошибка при сохранении файла ") + fileName_;
}

void CaptureSession::Forget() {
  active_ = false;
  fileName_.clear();
}

}  // namespace velmora::console
