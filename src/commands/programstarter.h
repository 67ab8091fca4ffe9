#pragma once

#include <QString>
#include <QStringList>

// Starts a program from a command line without waiting for it.
class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // False with a reason in `error` when the program could not be started.
    virtual bool Start(const QString& commandLine, QString* error) = 0;
};

// Splits a command line the way a shell-less command line reads: blanks separate arguments,
// double quotes group them ("" inside quotes is a literal quote), nothing else is special.
QStringList SplitCommandLine(const QString& commandLine);

// Starts programs detached, without a shell, never waiting for them.
class DetachedProgramStarter : public ProgramStarter {
public:
    bool Start(const QString& commandLine, QString* error) override;
};
