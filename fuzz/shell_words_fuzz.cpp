// libFuzzer target: the launcher's splitting of a command line into a program and its
// arguments, the line as the operator (or a settings file) gives it.
//
// Words that come out go back in: each quoted in single quotes, or in double quotes with the
// four characters escaped that need it, and joined by blanks, they split into the same words. A
// line without quotes always splits, and a line without quotes and backslashes splits at its
// blanks alone.

#include <cstddef>
#include <cstdint>
#include <optional>

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "dialogs/shell_words.h"

namespace {

using velmora::dialogs::SplitShellWords;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

QString SingleQuoted(const QStringList& words) {
  QStringList quoted;
  for (QString w : words) quoted.append(u'\'' + w.replace(u'\'', QStringLiteral("'\\''")) + u'\'');
  return quoted.join(u' ');
}

QString DoubleQuoted(const QStringList& words) {
  QStringList quoted;
  for (const QString& w : words) {
    QString q = QStringLiteral("\"");
    for (QChar c : w) {
      if (c == u'$' || c == u'`' || c == u'"' || c == u'\\') q += u'\\';
      q += c;
    }
    quoted.append(q + u'"');
  }
  return quoted.join(u'\t');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString line = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const std::optional<QStringList> words = SplitShellWords(line);
  const bool quotes = line.contains(u'\'') || line.contains(u'"');
  if (!quotes) Check(words.has_value());
  if (!words) return 0;

  Check(SplitShellWords(SingleQuoted(*words)) == words);
  Check(SplitShellWords(DoubleQuoted(*words)) == words);
  if (!quotes && !line.contains(u'\\')) {
    static const QRegularExpression blanks(QStringLiteral("[ \t\n]+"));
    Check(*words == line.split(blanks, Qt::SkipEmptyParts));
  }
  return 0;
}
