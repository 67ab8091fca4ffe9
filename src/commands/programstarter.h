#pragma once

#include "commands/agent.h"

#include <QStringList>

// Splits a command line the way a shell-less command line reads: blanks separate arguments,
// double quotes group them ("" inside quotes is a literal quote), nothing else is special.
QStringList SplitCommandLine(const QString& commandLine);

// Starts programs detached, without a shell, never waiting for them.
class DetachedProgramStarter : public ProgramStarter {
public:
    bool Start(const QString& commandLine, QString* error) override;
};
