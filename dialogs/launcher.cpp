#include "dialogs/launcher.h"

#include <filesystem>
#include <string>
#include <system_error>

#include <QFile>
#include <QProcess>

#include "dialogs/shell_words.h"

namespace velmora::dialogs {

namespace {

std::string OsErrorMessage(int errorCode) {
  if (errorCode == 0) return "A call to an OS function failed";
  return "System Error.  Code: " + std::to_string(errorCode) + ".\r\n" +
         std::system_category().message(errorCode);
}

// File names are bytes on Linux; the local encoding of Qt's file functions maps them.
std::filesystem::path NativePath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

}  // namespace

EOSError::EOSError(int errorCode)
    : std::runtime_error(OsErrorMessage(errorCode)), errorCode_(errorCode) {}

bool TLauncher::Exec(const QString& FileName, const QString& Parameters,
                     const QString& Directory) {
  if (FileName.isEmpty()) return false;
  QStringList arguments;
  if (!Parameters.isEmpty()) arguments.append(Parameters);
  // Detached: the viewer outlives neither a wait of ours nor a zombie when it ends.
  return QProcess::startDetached(FileName, arguments, Directory);
}

int TLauncher::ExecuteAndWait(const QString& CommandLine, int16_t /*Visibility*/) {
  std::optional<QStringList> words = SplitShellWords(CommandLine);
  if (!words || words->isEmpty() || words->front().isEmpty()) return -1;
  const QString program = words->takeFirst();
  QProcess process;
  // The program talks to the console's own standard streams, as it would from a shell.
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.setInputChannelMode(QProcess::ForwardedInputChannel);
  process.start(program, *words);
  if (!process.waitForStarted(-1)) return -1;
  process.waitForFinished(-1);
  if (process.exitStatus() != QProcess::NormalExit) return -1;
  return process.exitCode();
}

bool PathExists(const QString& Path) {
  if (Path.isEmpty()) return false;
  std::error_code error;
  // The entry itself, not what a link leads to: an entry is there even if its target is not.
  const std::filesystem::file_status status = std::filesystem::symlink_status(NativePath(Path), error);
  return !error && std::filesystem::exists(status);
}

uint64_t FileSize64(const QString& Path) {
  const std::filesystem::path path = NativePath(Path);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) throw EOSError(error.value());
  if (!std::filesystem::exists(status)) throw EOSError(static_cast<int>(std::errc::no_such_file_or_directory));
  // A directory's entry holds no size of its own, as the system's directory search reports.
  if (std::filesystem::is_directory(status)) return 0;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw EOSError(error.value());
  return size;
}

}  // namespace velmora::dialogs
