#pragma once

#include <QString>

// Line output for people and scripts. Every line is flushed at once so that a pipe or a
// test reading the output sees each event as it happens.
namespace Console {

void Out(const QString &line);
void Err(const QString &line);
// True when standard output is a terminal (progress lines are only drawn there).
bool IsTerminal();
// Draws a progress line in place on a terminal; an empty text clears it.
void Progress(const QString &text);

// Exit codes of every command.
enum ExitCode { Success = 0, Failure = 1, BadUsage = 2 };

// "pkgtool: <what>: <where>" on standard error; returns Failure.
int Fail(const QString &what, const QString &where = QString());

} // namespace Console
