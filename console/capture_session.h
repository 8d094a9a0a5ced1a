#pragma once
// CaptureSession: received data captured to a file in the display form. It keeps the file's
// name, the open file, whether a capture runs and whether its file has failed a write, and words
// the lines the operator sees about it; the window hands it the received chunks and shows the
// lines in the receive pane. User-interface thread only.

#include <string>

#include <QString>

#include "console/capture_file.h"

namespace velmora::console {

class CaptureSession {
 public:
  // Opens `path` for appending; the name is kept for the next choice whether or not it opens.
  // False (and OpenFailedLine() says why) when it cannot be opened.
  bool Start(const QString& path);
  // Ends the capture. False (and CloseFailedLine() says so) when the file failed to close.
  bool Stop();

  bool Active() const { return active_; }
  // The file last chosen, for the next dialog and the viewer; empty until one is.
  const QString& FileName() const { return fileName_; }

  // Appends `shown` to the file. The line the operator should see now, or empty: a failed
  // write is told once per capture, and the capture goes on (the medium may come back).
  QString Write(const std::string& shown);

  QString StartLine() const;
  QString OpenFailedLine() const;
  QString CloseFailedLine() const;

  // As at window creation: no capture, no file chosen.
  void Forget();

 private:
  QString fileName_;
  CaptureFile file_;
  bool active_ = false;
  bool writeFailed_ = false;
};

}  // namespace velmora::console
