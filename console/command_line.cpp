#include "console/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace velmora::console {

namespace {

QString Name() { return QCoreApplication::applicationName(); }

QString UsageLine() { return QStringLiteral("Usage: %1 [-h | --help] [-v | --version]").arg(Name()); }

QString HelpText() {
  return UsageLine() +
         QStringLiteral(
             "\n\n"
             "A serial line console for leased-line and half-duplex radio modems. Without options it\n"
             "opens its window; the port and the console's options are kept in\n"
             "$XDG_CONFIG_HOME/Velmora/ZORVA.INI (by default ~/.config/Velmora/ZORVA.INI).\n"
             "\n"
             "Keys: each character typed goes out of the port at once as one Windows-1251\n"
             "byte (Ctrl+B sends STX). Enter ends a transmission (RTS drops) and sends nothing\n"
             "until a line ending is chosen under \"После ENTER посылать\" in the parameters\n"
             "dialog. The settings file is written again when the window closes.\n"
             "\n"
             "State words in the status bar: ОЖИДАНИЕ (idle), ПЕРЕДАЧА (sending), ПРИЕМ\n"
             "(receiving), ТАЙМАУТ (line error), ОШИБКА (see the error box), НЕТ ПОРТА (the\n"
             "device went away; it is reopened when it returns), ВОССТАНОВЛЕН (it returned).\n"
             "\n"
             "Options:\n"
             "  -h, --help     Show this help and exit.\n"
             "  -v, --version  Show the version and exit.\n"
             "\n"
             "Port names, the simulated devices and device permissions: see velmora(1).\n");
}

CommandLineReply Refuse(const QString& reason) {
  return {false, kUsageExitCode, {}, QStringLiteral("%1: %2 %3\n").arg(Name(), reason, UsageLine())};
}

}  // namespace

CommandLineReply ReadCommandLine(const QStringList& arguments) {
  if (arguments.size() <= 1) return {true, 0, {}, {}};

  QCommandLineParser parser;
  // "-platform" is then one unknown option, not eight unknown letters.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
  parser.addOption(help);
  parser.addOption(version);
  if (!parser.parse(arguments)) return Refuse(parser.errorText());
  if (!parser.positionalArguments().isEmpty())
    return Refuse(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
  if (parser.isSet(help)) return {false, 0, HelpText(), {}};
  if (parser.isSet(version))
    return {false, 0, QStringLiteral("%1 %2\n").arg(Name(), QCoreApplication::applicationVersion()), {}};
  // Only a bare "--" is left: it asks for nothing.
  return Refuse(QStringLiteral("Unexpected argument '%1'.").arg(arguments.at(1)));
}

QStringList ArgumentsOf(int argc, const char* const* argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

int FinishWithoutWindow(const CommandLineReply& reply) {
  std::fputs(reply.output.toLocal8Bit().constData(), stdout);
  std::fputs(reply.error.toLocal8Bit().constData(), stderr);
  std::fflush(stdout);
  return reply.exitCode;
}

}  // namespace velmora::console
