#include "dialogs/shell_words.h"

namespace velmora::dialogs {

namespace {

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// Inside double quotes a backslash escapes only these; before anything else it stays.
bool EscapableInDoubleQuotes(QChar c) {
  return c == u'$' || c == u'`' || c == u'"' || c == u'\\' || c == u'\n';
}

}  // namespace

std::optional<QStringList> SplitShellWords(const QString& commandLine) {
  QStringList words;
  QString word;
  // A quoted empty string ('' or "") is a word of its own, so "in a word" is tracked apart
  // from the word's text.
  bool inWord = false;
  const qsizetype n = commandLine.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = commandLine[i];
    if (IsBlank(c)) {
      if (inWord) words.append(word);
      word.clear();
      inWord = false;
    } else if (c == u'\'') {
      const qsizetype close = commandLine.indexOf(u'\'', i + 1);
      if (close < 0) return std::nullopt;
      word += commandLine.mid(i + 1, close - i - 1);
      inWord = true;
      i = close;
    } else if (c == u'"') {
      qsizetype j = i + 1;
      for (; j < n && commandLine[j] != u'"'; ++j) {
        if (commandLine[j] == u'\\' && j + 1 < n && EscapableInDoubleQuotes(commandLine[j + 1])) {
          ++j;
          if (commandLine[j] != u'\n') word += commandLine[j];
        } else {
          word += commandLine[j];
        }
      }
      if (j >= n) return std::nullopt;
      inWord = true;
      i = j;
    } else if (c == u'\\') {
      if (i + 1 >= n) {
        // A backslash that ends the line has nothing to escape and stays as it is.
        word += c;
        inWord = true;
      } else if (commandLine[i + 1] == u'\n') {
        ++i;  // a continued line
      } else {
        word += commandLine[++i];
        inWord = true;
      }
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.append(word);
  return words;
}

}  // namespace velmora::dialogs
