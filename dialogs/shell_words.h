#pragma once
// Splitting a command line into words the way a POSIX shell does, without the shell: blanks
// (space, tab, newline) separate words; single quotes keep everything up to the next single
// quote; double quotes keep everything but let a backslash escape $ ` " \ and newline; a
// backslash outside quotes keeps the next character (backslash-newline joins lines). Nothing is
// expanded: no variables, globs, tildes, redirections or command separators, so a command line
// can never run more than the one program it names.
//
// Pure function; safe on any thread. A line of any length is split whole.

#include <optional>

#include <QStringList>

namespace velmora::dialogs {

// The words of `commandLine`; nullopt when a quote is left open (a shell refuses that line).
std::optional<QStringList> SplitShellWords(const QString& commandLine);

}  // namespace velmora::dialogs
