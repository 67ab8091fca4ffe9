#pragma once

#include <QString>

// The user's configuration folder: $XDG_CONFIG_HOME when it holds an absolute path, else ~/.config.
QString ConfigHome();

// Where an installed agent keeps its settings file: "vorlix/" in ConfigHome(), ending in "/". The
// folders that are missing are made, for the user alone; a folder that cannot be made shows up
// later, as the settings file failing to open.
QString UserSettingsPath();

// The freedesktop autostart entry that starts the agent with the user's session.
namespace LoginStart {
// ConfigHome()/autostart/vorlix.desktop
QString EntryPath();
bool IsOn();
// Writes the entry, starting `program`, or removes it; the reason when that failed, else empty.
QString Set(bool on, const QString& program);
// `program` as one argument of an entry's Exec line: quoted, with the characters that quoting and
// the entry's string format reserve escaped, and "%" doubled.
QString ExecArgument(const QString& program);
} // namespace LoginStart
