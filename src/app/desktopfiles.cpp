#include "app/desktopfiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>

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

// A path from the environment as text, or empty when the bytes are no valid UTF-8.
QString PathFromEnvironment(const char* name, QString* why) {
    const QByteArray bytes = qgetenv(name);
    const QString path = QFile::decodeName(bytes);
    if (QFile::encodeName(path) == bytes) return path;
    if (why)
        *why = QStringLiteral("The folder named by $%1, \"%2\", is not valid UTF-8 text, so Vorlix cannot keep its "
                              "settings there.")
                   .arg(QString::fromLatin1(name), path);
    return {};
}

} // namespace

QString ConfigHome(QString* why) {
    const QString configured = PathFromEnvironment("XDG_CONFIG_HOME", why);
    if (QDir::isAbsolutePath(configured)) return QDir::cleanPath(configured);
    if (!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME") && configured.isEmpty()) return {};
    // Not QDir::homePath(), which gives the root folder when $HOME is unset.
    QString home = PathFromEnvironment("HOME", why);
    if (home.isEmpty() && qEnvironmentVariableIsEmpty("HOME")) {
        if (const passwd* user = getpwuid(getuid())) {
            home = QFile::decodeName(user->pw_dir);
            if (QFile::encodeName(home) != QByteArray(user->pw_dir)) home.clear();
        }
        if (home.isEmpty() && why) *why = QStringLiteral("Vorlix cannot tell the user's home folder.");
    }
    if (!QDir::isAbsolutePath(home)) return {};
    return QDir::cleanPath(home) + QStringLiteral("/.config");
}

QString UserSettingsPath(QString* why) {
    const QString config = ConfigHome(why);
    if (config.isEmpty()) return {};
    const QString folder = config + QStringLiteral("/vorlix");
    MakeUserFolder(folder);
    return folder + QLatin1Char('/');
}

namespace LoginStart {
namespace {

const QString kGroup = QStringLiteral("[Desktop Entry]");
// The keys the agent writes; an entry with nothing else is the agent's alone.
const QStringList kOwnKeys = {QStringLiteral("Type"),    QStringLiteral("Name"),
                              QStringLiteral("Comment"), QStringLiteral("Exec"),
                              QStringLiteral("Icon"),    QStringLiteral("Terminal"),
                              QStringLiteral("Hidden"),  QStringLiteral("X-GNOME-Autostart-enabled")};

// One line of an entry: the key and value when it is a key of the main group.
struct Line {
    QString text;
    QString key = {}, value = {};
    bool inMainGroup = false;
};

QList<Line> ReadEntry(const QString& path, bool* found) {
    QFile file(path);
    *found = file.open(QIODevice::ReadOnly);
    QList<Line> lines;
    if (!*found) return lines;
    QString group;
    for (const QString& text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        Line line{text};
        const QString trimmed = text.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            group = trimmed;
        } else if (group == kGroup && !trimmed.startsWith(QLatin1Char('#'))) {
            const qsizetype equals = text.indexOf(QLatin1Char('='));
            if (equals > 0) {
                line.inMainGroup = true;
                line.key = text.left(equals).trimmed();
                line.value = text.mid(equals + 1).trimmed();
            }
        }
        lines << line;
    }
    if (!lines.isEmpty() && lines.last().text.isEmpty()) lines.removeLast();
    return lines;
}

bool SwitchedOff(const QList<Line>& lines) {
    for (const Line& line : lines) {
        if (!line.inMainGroup) continue;
        if (line.key == QLatin1String("Hidden") && line.value == QLatin1String("true")) return true;
        if (line.key == QLatin1String("X-GNOME-Autostart-enabled") && line.value == QLatin1String("false")) return true;
    }
    return false;
}

// The entries in the order the session reads them: the user's first, then the system's; the first that
// exists is the one that counts.
QStringList EntryPaths() {
    QStringList paths;
    if (const QString user = EntryPath(); !user.isEmpty()) paths << user;
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty()) dirs = QStringLiteral("/etc/xdg");
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir)) paths << QDir::cleanPath(dir) + QStringLiteral("/autostart/vorlix.desktop");
    return paths;
}

bool SystemEntryExists() {
    const QStringList paths = EntryPaths();
    return std::any_of(paths.begin() + (EntryPath().isEmpty() ? 0 : 1), paths.end(),
                       [](const QString& path) { return QFileInfo::exists(path); });
}

QString Write(const QString& path, const QList<Line>& lines) {
    if (!MakeUserFolder(QFileInfo(path).path()))
        return QStringLiteral("Could not make the folder %1").arg(QFileInfo(path).path());
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return QStringLiteral("Could not write %1: %2").arg(path, entry.errorString());
    for (const Line& line : lines)
        entry.write((line.text + QLatin1Char('\n')).toUtf8());
    if (!entry.commit()) return QStringLiteral("Could not write %1: %2").arg(path, entry.errorString());
    return {};
}

// Sets `key` in the main group, after its other keys when it is new.
void SetKey(QList<Line>& lines, const QString& key, const QString& value) {
    qsizetype after = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].inMainGroup && lines[i].key == key) {
            lines[i] = Line{key + QLatin1Char('=') + value, key, value, true};
            return;
        }
        if (lines[i].inMainGroup || lines[i].text.trimmed() == kGroup) after = i;
    }
    if (after < 0) {
        lines.prepend(Line{kGroup});
        after = 0;
    }
    lines.insert(after + 1, Line{key + QLatin1Char('=') + value, key, value, true});
}

void RemoveKey(QList<Line>& lines, const QString& key) {
    lines.removeIf([&](const Line& line) { return line.inMainGroup && line.key == key; });
}

} // namespace

QString EntryPath() {
    const QString config = ConfigHome();
    return config.isEmpty() ? QString() : config + QStringLiteral("/autostart/vorlix.desktop");
}

bool IsOn() {
    for (const QString& path : EntryPaths()) {
        bool found = false;
        const QList<Line> lines = ReadEntry(path, &found);
        if (found) return !SwitchedOff(lines);
        // One that cannot be read is not shown as on; it still hides the entries after it.
        if (QFileInfo::exists(path)) return false;
    }
    return false;
}

QString Set(bool on, const QString& program) {
    QString why;
    if (ConfigHome(&why).isEmpty()) return why;
    const QString path = EntryPath();
    bool found = false;
    QList<Line> lines = ReadEntry(path, &found);
    if (!found && QFileInfo::exists(path)) return QStringLiteral("Could not read %1").arg(path);
    if (!on) {
        if (!found && !SystemEntryExists()) return {};
        const bool othersKeys = std::any_of(lines.begin(), lines.end(), [](const Line& line) {
            return !line.text.trimmed().isEmpty() && line.text.trimmed() != kGroup && !kOwnKeys.contains(line.key);
        });
        if (found && !othersKeys && !SystemEntryExists()) {
            QFile entry(path);
            if (!entry.remove()) return QStringLiteral("Could not remove %1: %2").arg(path, entry.errorString());
            return {};
        }
        // What the user or the system keeps in the entry stays; the switch alone goes off.
        if (!found)
            lines = {Line{kGroup}, Line{QStringLiteral("Type=Application"), QStringLiteral("Type"),
                                        QStringLiteral("Application"), true}};
        SetKey(lines, QStringLiteral("Hidden"), QStringLiteral("true"));
        return Write(path, lines);
    }
    if (program.isEmpty())
        return QStringLiteral("Vorlix cannot tell where its program file is, so it cannot start at login.");
    if (!found) {
        lines.clear();
        lines << Line{kGroup};
        for (const auto& [key, value] :
             {std::pair{QStringLiteral("Type"), QStringLiteral("Application")},
              {QStringLiteral("Name"), QStringLiteral("Vorlix")},
              {QStringLiteral("Comment"), QStringLiteral("Voice commands and hot keys from the system tray")},
              {QStringLiteral("Exec"), QString()},
              {QStringLiteral("Icon"), QStringLiteral("vorlix")},
              {QStringLiteral("Terminal"), QStringLiteral("false")}})
            lines << Line{key + QLatin1Char('=') + value, key, value, true};
    }
    SetKey(lines, QStringLiteral("Exec"), ExecArgument(program));
    RemoveKey(lines, QStringLiteral("Hidden"));
    if (std::any_of(lines.begin(), lines.end(),
                    [](const Line& l) { return l.inMainGroup && l.key == QLatin1String("X-GNOME-Autostart-enabled"); }))
        SetKey(lines, QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("true"));
    return Write(path, lines);
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
