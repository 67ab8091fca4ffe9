#pragma once

#include <QString>

// Why the settings file at `filePath` must not be trusted, or an empty string when it may be.
// Refused, as OpenSSH refuses its own files: a symbolic link; a file or folder that belongs to
// another user (root excepted); a file or its folder that other users can write (a shared sticky
// folder such as /tmp included); a folder above it that others can change without the sticky bit.
// Group write counts only when the group holds other users. Write access given by the file's access
// control list (a named user or group, the owning group's entry, each under the list's mask) counts
// as the permission bits do.
QString UntrustedSettingsReason(const QString& filePath);
