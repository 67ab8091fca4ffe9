#pragma once

#include <QString>

// The user's configuration folder: $XDG_CONFIG_HOME when it holds an absolute path, else ~/.config.
// Empty, with the reason in `why`, when that path is not valid UTF-8: a path is bytes, and one that
// no text can spell cannot be opened again through the text it would be read as.
QString ConfigHome(QString* why = nullptr);

// Where an installed agent keeps its settings file: "vorlix/" in ConfigHome(), ending in "/". The
// folders that are missing are made, for the user alone; a folder that cannot be made shows up
// later, as the settings file failing to open. Empty, with the reason, as ConfigHome.
QString UserSettingsPath(QString* why = nullptr);

// The freedesktop autostart entry that starts the agent with the user's session.
namespace LoginStart {
// ConfigHome()/autostart/vorlix.desktop
QString EntryPath();
// Whether the session starts the agent: the user's entry, or else one of the system's, exists and is
// not switched off (Hidden=true, or X-GNOME-Autostart-enabled=false as some desktops write).
bool IsOn();
// Switches the entry on, starting `program`, or off; the reason when that failed, else empty. Keys and
// lines of the user's entry that the agent does not write are kept; an entry holding only the agent's
// own keys is removed when switched off.
QString Set(bool on, const QString& program);
// `program` as one argument of an entry's Exec line: quoted, with the characters that quoting and
// the entry's string format reserve escaped, and "%" doubled.
QString ExecArgument(const QString& program);
} // namespace LoginStart
