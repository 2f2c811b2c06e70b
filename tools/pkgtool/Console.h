#pragma once

#include <QString>

// Line output for people and scripts. Every line is flushed at once so that a pipe or a
// test reading the output sees each event as it happens.
namespace Console {

// Names and paths come from the file system and may hold anything. Every character that a
// terminal could act on is shown as an escape instead: C0 controls (line breaks and tabs too),
// DEL and C1 controls as "\xHH", the bidirectional and line-separator marks as "\uHHHH".
// A backslash is printed as it stands.
QString Escaped(const QString &text);
// The same for JSON text (as QJsonDocument writes it): every such character inside a string
// becomes a "\u00HH" escape, the short forms "\n", "\t" ... included.
QString EscapedJson(const QString &json);

// One line; `line` is shown through Escaped, so a name in it cannot break the line or reach
// the terminal raw.
void Out(const QString &line);
void Err(const QString &line);
// Several lines (help, indented JSON): each line is shown through Escaped.
void OutLines(const QString &text);
void ErrLines(const QString &text);
// True when standard output is a terminal (progress lines are only drawn there).
bool IsTerminal();
// Draws a progress line in place on a terminal; an empty text clears it.
void Progress(const QString &text);

// Exit codes of every command.
enum ExitCode { Success = 0, Failure = 1, BadUsage = 2 };

// "pkgtool: <what>: <where>" on standard error; returns Failure.
int Fail(const QString &what, const QString &where = QString());

} // namespace Console
