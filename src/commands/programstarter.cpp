#include "commands/programstarter.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

QStringList SplitCommandLine(const QString& commandLine) {
    QStringList args;
    QString current;
    bool inQuotes = false;
    bool haveArg = false;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine.at(i);
        if (c == QLatin1Char('"')) {
            if (inQuotes && i + 1 < commandLine.size() && commandLine.at(i + 1) == QLatin1Char('"')) {
                current += c;
                ++i;
            } else {
                inQuotes = !inQuotes;
            }
            haveArg = true;
        } else if (!inQuotes && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (haveArg) args << current;
            current.clear();
            haveArg = false;
        } else {
            current += c;
            haveArg = true;
        }
    }
    if (haveArg) args << current;
    return args;
}

bool DetachedProgramStarter::Start(const QString& commandLine, QString* error) {
    // A program's arguments end at a NUL: one inside would reach it cut short, as another command.
    if (commandLine.contains(QChar(0))) {
        if (error) *error = QStringLiteral("The command line holds a NUL character; nothing was started.");
        return false;
    }
    QStringList args = SplitCommandLine(commandLine);
    if (args.isEmpty()) {
        // An empty command line starts nothing, as it always has.
        return true;
    }
    const QString program = args.takeFirst();
    const bool hasPath = program.contains(QLatin1Char('/'));
    const QString resolved = hasPath ? program : QStandardPaths::findExecutable(program);
    const QFileInfo info(resolved);
    if (resolved.isEmpty() || !info.exists()) {
        if (error) *error = QStringLiteral("The program \"%1\" was not found.").arg(program);
        return false;
    }
    if (info.isDir() || !info.isExecutable()) {
        if (error) *error = QStringLiteral("\"%1\" is not an executable program.").arg(program);
        return false;
    }
    QProcess process;
    process.setProgram(resolved);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        if (error) *error = process.errorString();
        return false;
    }
    return true;
}
