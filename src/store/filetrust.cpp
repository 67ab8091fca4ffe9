#include "store/filetrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kRunsWithDefaults =
    QStringLiteral(" Until then Vorlix runs with its default settings and saves nothing there.");

QString UserName(uid_t uid) {
    const passwd* user = getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

QString GroupName(gid_t gid) {
    const group* g = getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

// Whether any user but the one running the agent belongs to the group.
bool GroupHoldsOthers(gid_t gid) {
    const uid_t me = geteuid();
    const QByteArray myName = QFile::encodeName(UserName(me));
    const group* g = getgrgid(gid);
    if (!g) return true;
    for (char** member = g->gr_mem; *member; ++member) {
        if (myName != *member) return true;
    }
    bool others = false;
    setpwent();
    while (const passwd* user = getpwent()) {
        if (user->pw_gid == gid && user->pw_uid != me) {
            others = true;
            break;
        }
    }
    endpwent();
    return others;
}

QString Permissions(mode_t mode) {
    QString text;
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    if (mode & S_ISVTX) text[8] = (mode & S_IXOTH) ? QLatin1Char('t') : QLatin1Char('T');
    return text;
}

// One entry of a POSIX access control list.
struct AclEntry {
    enum Tag : quint16 { UserObj = 0x01, User = 0x02, GroupObj = 0x04, Group = 0x08, Mask = 0x10, Other = 0x20 };
    quint16 tag;
    quint16 perm;
    quint32 id;
};
constexpr quint16 kAclWrite = 2;

// The access list of `path` as the kernel keeps it, in the extended attribute "system.posix_acl_access"
// (a little-endian version 2 header, then tag, permissions and id per entry). Read directly, so the
// agent needs no ACL library: an empty list where the file has none or the filesystem knows none;
// nothing when the attribute is there but cannot be read or understood.
std::optional<std::vector<AclEntry>> AccessAcl(const QByteArray& path) {
    static const char* const kName = "system.posix_acl_access";
    QByteArray data;
    ssize_t size = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        size = lgetxattr(path.constData(), kName, nullptr, 0);
        if (size < 0) break;
        data.resize(size);
        size = lgetxattr(path.constData(), kName, data.data(), size_t(data.size()));
        if (size >= 0 || errno != ERANGE) break;
    }
    if (size < 0) {
        if (errno == ENODATA || errno == ENOTSUP || errno == ENOSYS) return std::vector<AclEntry>();
        return std::nullopt;
    }
    constexpr qsizetype kHeader = 4, kEntry = 8;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    if (size < kHeader || (size - kHeader) % kEntry != 0 || qFromLittleEndian<quint32>(bytes) != 2) return std::nullopt;
    std::vector<AclEntry> entries;
    for (qsizetype at = kHeader; at < size; at += kEntry)
        entries.push_back({qFromLittleEndian<quint16>(bytes + at), qFromLittleEndian<quint16>(bytes + at + 2),
                           qFromLittleEndian<quint32>(bytes + at + 4)});
    return entries;
}

// Who besides the owner can write, in words, or empty when nobody can. With an access list the
// group bits of the mode are only the list's mask: every entry under it is read instead.
QString OthersWhoCanWrite(const QByteArray& path, const struct stat& st) {
    if (st.st_mode & S_IWOTH) return QStringLiteral("its permissions are %1").arg(Permissions(st.st_mode));
    const std::optional<std::vector<AclEntry>> acl = AccessAcl(path);
    if (!acl) return QStringLiteral("its access control list cannot be read");
    if (acl->empty()) {
        if ((st.st_mode & S_IWGRP) && GroupHoldsOthers(st.st_gid))
            return QStringLiteral("its permissions are %1 and the group \"%2\" has other members")
                .arg(Permissions(st.st_mode), GroupName(st.st_gid));
        return QString();
    }
    quint16 mask = 7;
    for (const AclEntry& entry : *acl)
        if (entry.tag == AclEntry::Mask) mask = entry.perm;
    for (const AclEntry& entry : *acl) {
        if (!(entry.perm & mask & kAclWrite)) continue;
        // Root can write anyway; an entry for the agent's own user is the owner again.
        if (entry.tag == AclEntry::User && entry.id != geteuid() && entry.id != 0)
            return QStringLiteral("its access control list lets the user %1 write").arg(UserName(entry.id));
        if (entry.tag == AclEntry::GroupObj && GroupHoldsOthers(st.st_gid))
            return QStringLiteral("its access control list lets the group \"%1\" write, which has other members")
                .arg(GroupName(st.st_gid));
        if (entry.tag == AclEntry::Group && GroupHoldsOthers(entry.id))
            return QStringLiteral("its access control list lets the group \"%1\" write, which has other members")
                .arg(GroupName(entry.id));
    }
    return QString();
}

bool OwnedByAnother(const struct stat& st) {
    return st.st_uid != geteuid() && st.st_uid != 0;
}

} // namespace

QString UntrustedSettingsReason(const QString& filePath) {
    const QFileInfo info(filePath);
    const QString file = info.absoluteFilePath();
    const QString me = UserName(geteuid());
    struct stat st;
    const QByteArray fileName = QFile::encodeName(file);
    if (lstat(fileName.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("The settings file \"%1\" is a symbolic link. Vorlix does not follow a link to its "
                                  "settings, because whoever can change the link chooses the file that Vorlix reads "
                                  "and overwrites. To fix this, put the file itself in place of the link: mv \"%2\" "
                                  "\"%1\".")
                       .arg(file, info.symLinkTarget()) +
                   kRunsWithDefaults;
        if (OwnedByAnother(st))
            return QStringLiteral(
                       "The settings file \"%1\" belongs to the user %2, not to you (%3), so %2 could change "
                       "the commands that Vorlix runs as you. To fix this, make the file yours: sudo chown "
                       "%3 \"%1\".")
                       .arg(file, UserName(st.st_uid), me) +
                   kRunsWithDefaults;
        const QString others = OthersWhoCanWrite(fileName, st);
        if (!others.isEmpty())
            return QStringLiteral("Other users can change the settings file \"%1\" (%2), so they could change the "
                                  "commands that Vorlix runs as you. To fix this, take their write access away: "
                                  "chmod go-w \"%1\".")
                       .arg(file, others) +
                   kRunsWithDefaults;
    }

    // The file's folder and every folder above it, as the system resolves them. A folder still to be
    // made is as safe as the first existing one, where it would be made.
    QString folder = info.absolutePath();
    while (!QFileInfo::exists(folder) && folder != QFileInfo(folder).path())
        folder = QFileInfo(folder).path();
    folder = QFileInfo(folder).canonicalFilePath();
    for (bool holdsFile = true; !folder.isEmpty(); holdsFile = false) {
        const QByteArray folderName = QFile::encodeName(folder);
        if (stat(folderName.constData(), &st) != 0) break;
        const QString where = holdsFile ? QStringLiteral("The folder \"%1\", where the settings file is kept,")
                                        : QStringLiteral("The folder \"%1\", above the folder of the settings file,");
        if (OwnedByAnother(st))
            return (where + QStringLiteral(" belongs to the user %2, not to you (%3), so %2 could replace the settings "
                                           "file. To fix this, keep the settings file in a folder of your own, or "
                                           "make this one yours: sudo chown %3 \"%1\"."))
                       .arg(folder, UserName(st.st_uid), me) +
                   kRunsWithDefaults;
        const QString others = OthersWhoCanWrite(folderName, st);
        // In a shared sticky folder others cannot replace what is there, but they can be first to put it there.
        if (!others.isEmpty() && holdsFile && (st.st_mode & S_ISVTX))
            return (where + QStringLiteral(" is shared with other users (%2), so another user could put a settings "
                                           "file there. To fix this, keep the settings file in a folder that only you "
                                           "can write to."))
                       .arg(folder, others) +
                   kRunsWithDefaults;
        if (!others.isEmpty() && !(st.st_mode & S_ISVTX))
            return (where + QStringLiteral(" can be changed by other users (%2), so they could replace the settings "
                                           "file. To fix this, take their write access away: chmod go-w \"%1\"."))
                       .arg(folder, others) +
                   kRunsWithDefaults;
        if (folder == QLatin1String("/")) break;
        folder = QFileInfo(folder).path();
    }
    return QString();
}
