#pragma once

#include <QStringList>

#include <cstdio>

namespace velmaris::cli {

// Exit codes of norvane-cli.
enum ExitCode { Success = 0, RuntimeFailure = 1, UsageError = 2 };

// Runs one norvane-cli command (arguments without the program name). Records
// go to `out` as JSON Lines; messages go to `err`.
int runCommand(const QStringList &arguments, std::FILE *out, std::FILE *err);

// The usage text of every command.
const char *fullUsageText();

} // namespace velmaris::cli
