#include "app/desktopfiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

// Makes each missing folder of `path` readable and writable by the user alone.
bool MakeUserFolder(const QString& path) {
    const QString absolute = QDir::cleanPath(path);
    if (QFileInfo(absolute).isDir()) return true;
    const QString parent = QFileInfo(absolute).path();
    if (parent != absolute && !MakeUserFolder(parent)) return false;
    return QDir().mkdir(absolute, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
           QFileInfo(absolute).isDir();
}

} // namespace

QString ConfigHome() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(configured)) return QDir::cleanPath(configured);
    return QDir::homePath() + QStringLiteral("/.config");
}

QString UserSettingsPath() {
    const QString folder = ConfigHome() + QStringLiteral("/vorlix");
    MakeUserFolder(folder);
    return folder + QLatin1Char('/');
}

namespace LoginStart {

QString EntryPath() {
    return ConfigHome() + QStringLiteral("/autostart/vorlix.desktop");
}

bool IsOn() {
    return QFileInfo::exists(EntryPath());
}

QString Set(bool on, const QString& program) {
    const QString path = EntryPath();
    if (!on) {
        QFile entry(path);
        if (entry.exists() && !entry.remove())
            return QStringLiteral("Could not remove %1: %2").arg(path, entry.errorString());
        return {};
    }
    if (!MakeUserFolder(QFileInfo(path).path()))
        return QStringLiteral("Could not make the folder %1").arg(QFileInfo(path).path());
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return QStringLiteral("Could not write %1: %2").arg(path, entry.errorString());
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Vorlix\n"
                                        "Comment=Voice commands and hot keys from the system tray\n"
                                        "Exec=%1\n"
                                        "Icon=vorlix\n"
                                        "Terminal=false\n")
                             .arg(ExecArgument(program));
    entry.write(text.toUtf8());
    if (!entry.commit()) return QStringLiteral("Could not write %1: %2").arg(path, entry.errorString());
    return {};
}

QString ExecArgument(const QString& program) {
    // Two layers: inside double quotes \ " ` $ take a backslash, and the value's own string format
    // then doubles every backslash and spells out line breaks and tabs.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        switch (c.unicode()) {
        case '\\':
            quoted += QStringLiteral("\\\\\\\\");
            break;
        case '"':
        case '`':
        case '$':
            quoted += QStringLiteral("\\\\") + c;
            break;
        case '%':
            quoted += QStringLiteral("%%");
            break;
        case '\n':
            quoted += QStringLiteral("\\n");
            break;
        case '\t':
            quoted += QStringLiteral("\\t");
            break;
        case '\r':
            quoted += QStringLiteral("\\r");
            break;
        default:
            quoted += c;
        }
    }
    return quoted + QLatin1Char('"');
}

} // namespace LoginStart
