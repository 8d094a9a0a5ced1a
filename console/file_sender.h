#pragma once
// FileSender: a file sent to the line. It keeps the file's name, its content, how far the line
// has confirmed it and whether a send runs, and words the lines the operator sees about it.
//
// The first characters go one per transmit-empty event, and so does every character while the
// window keys per character; the window writes those itself. Where RTS stays up for the whole
// file the rest goes as a stream: the sender keeps a few overlapped writes with the device, each
// a few milliseconds of the line's time, and starts the next as each finishes, so the line never
// idles while what the driver holds for the line stays bounded (a stop takes effect once that
// little has gone). A stopped send's writes already with the device go out whole, as the
// character in flight always did.
//
// User-interface thread only. The device finishes a write on its own thread; the sender learns
// of it through each write's completion event, watched by a socket notifier, and only ever
// reads the finished record. The sender must go before the port it writes to: its destructor
// aborts what is still with the device and waits for it.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QString>

#include "console/file_send.h"
#include "port/port_operation.h"

class QSocketNotifier;

namespace velmora::port {
class TComPort;
}

namespace velmora::console {

class FileSender {
 public:
  enum class StartResult {
    kStarted,     // the first character is ready
    kEmpty,       // nothing to send; the operator is told why nothing happens
    kReadFailed,  // unreadable, or too large to count
  };

  // What the finished stream writes came to, since the last look.
  struct Finished {
    int64_t moved = 0;  // bytes the line took, this send's and a stopped one's
    int error = 0;      // the system's number of the first write that failed, 0 when none
  };

  FileSender();
  ~FileSender();
  FileSender(const FileSender&) = delete;
  FileSender& operator=(const FileSender&) = delete;

  // Reads `path` whole. A file that cannot be found raises the system's error (the caller's
  // error display shows it); the name is kept all the same, for the next choice.
  StartResult Start(const QString& path);
  // The line that shows what Start found.
  QString StartLine(StartResult result) const;

  bool Active() const { return active_; }
  // The file last chosen, for the next dialog; empty until one is.
  const QString& FileName() const { return fileName_; }
  int Percent() const { return progress_.Percent(); }
  bool Complete() const { return progress_.Complete(); }

  // --- one character per transmit-empty ---------------------------------------------------
  // The next character of the file to write; only while Active() and not Complete().
  char NextCharacter();
  // The character written by NextCharacter has been confirmed by a transmit-empty event; true
  // when it was the last. Nothing when no character is in flight.
  bool Confirm();
  bool CharacterInFlight() const { return characterInFlight_; }

  // --- the stream ---------------------------------------------------------------------------
  // Whether the send has gone far enough one character at a time to go on as a stream: a short
  // file goes as a typed line does, character by character, and gains nothing from the stream.
  bool StreamMayStart() const;
  // Starts writes of the file's next chunks on `port` until `kStreamWrites` are with the device
  // or the file is all written. A chunk is `chunkBytes` long, longer while the line takes each
  // whole at once (then it holds nothing back for the line). EComPort when the device refuses a
  // write; std::system_error when the system has no event for one.
  void TopUp(port::TComPort& port, size_t chunkBytes);
  // Takes the stream's writes the device has finished. Their bytes count as confirmed for this
  // send; a failed write stops the stream (TopUp writes nothing more for this send).
  Finished TakeFinishedWrites();
  // A stream write is still with the device.
  bool StreamPending() const;
  // Called on the user-interface thread when a stream write may have finished.
  void SetWriteFinishedHandler(std::function<void()> handler) { writeFinished_ = std::move(handler); }

  // How the send came out (finished, or stopped how far in), empty when none was started; then
  // the send is over and its content dropped. What is already with the device (the character
  // in flight, the stream's writes) goes out and counts as sent.
  QString Finish();
  // As at window creation: no send, no file chosen.
  void Forget();

  // Writes kept with the device at once while streaming.
  static constexpr size_t kStreamWrites = 4;
  // The longest stream write, however fast the line takes them.
  static constexpr size_t kLargestStreamWrite = 64 * 1024;
  // Characters sent one per transmit-empty before the stream may start.
  static constexpr int64_t kCharactersBeforeStream = 16;

 private:
  struct StreamWrite {
    port::PPortOperation operation;
    std::string bytes;  // the device reads them until the write finishes
    bool pending = false;
    bool ofThisSend = false;
    std::unique_ptr<QSocketNotifier> notifier;
  };

  bool ReadWhole(const QString& path, uint64_t size);
  // Bytes of this send's writes still with the device.
  int64_t PendingOfThisSend() const;

  QString fileName_;
  FileSendProgress progress_;
  bool active_ = false;
  bool characterInFlight_ = false;
  bool streamFailed_ = false;
  size_t grownChunk_ = 0;  // the next write's length while the line takes them at once
  port::TComPort* streamPort_ = nullptr;  // the port the stream's writes went to
  std::array<StreamWrite, kStreamWrites> writes_;
  std::function<void()> writeFinished_;
};

// The length of a stream write on a line of `baud`: a few milliseconds of the line's time, the
// most a stop waits for each write still with the device.
size_t StreamChunkBytes(uint32_t baud);

}  // namespace velmora::console
