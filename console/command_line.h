#pragma once
// The program's command line. Without arguments the window starts; `--help` (`-h`) and
// `--version` (`-v`) print to standard output and end the program with 0; anything else is
// refused with one line on standard error and exit code 2. It is read before any application
// object exists, so `velmora --version` works without a display.
//
// The program's name and version are QCoreApplication's (set them first).

#include <QString>
#include <QStringList>

namespace velmora::console {

struct CommandLineReply {
  bool startWindow = false;
  int exitCode = 0;  // when the window does not start
  QString output;    // for standard output
  QString error;     // for standard error
};

inline constexpr int kUsageExitCode = 2;

// `arguments` as the system gives them: the program's own name first.
CommandLineReply ReadCommandLine(const QStringList& arguments);
QStringList ArgumentsOf(int argc, const char* const* argv);

// Writes the reply's texts and returns its exit code.
int FinishWithoutWindow(const CommandLineReply& reply);

}  // namespace velmora::console
