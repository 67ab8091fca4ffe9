#include "app/singleagent.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray kShowOptions = "options\n";
const QByteArray kShown = "shown\n";
// How long a start keeps trying while another agent with the same file is ending.
constexpr int kClaimMs = 15000;
// How long a start waits for a busy agent (one still loading a large file) to answer.
constexpr int kAnswerMs = 10000;
// A request is one short line: a connection that sends more without a line end, or says nothing
// for this long, is closed. Connections beyond the bound close the oldest one.
constexpr qsizetype kMaxRequest = 256;
constexpr int kSilentMs = 1000;
constexpr size_t kMaxOpen = 16;
// With no descriptor left and no connection to free, accepting waits this long before it tries again.
constexpr int kAcceptPauseMs = 100;
// Accepted per wake-up, so that a flood of connections does not hold up the event loop.
constexpr int kAcceptBatch = 64;
// Descriptors that hand-over connections leave to the rest of the agent (its event loop, the
// settings file, the programs it starts): short of them, a connection is answered at once or closed.
constexpr int kSpareDescriptors = 16;

// Whether so few descriptors are left that a connection given `descriptor` must not be kept open.
// Numbers are given lowest first, so every one below `descriptor` is in use.
bool ShortOfDescriptors(int descriptor) {
    rlimit limit = {};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
           rlim_t(descriptor) + kSpareDescriptors >= limit.rlim_cur;
}

QString CanonicalPath(const QString& path) {
    const QFileInfo file(path);
    if (file.exists()) return file.canonicalFilePath();
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : folder + QLatin1Char('/') + file.fileName();
}

QString Digest(const QString& settingsFilePath) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QFile::encodeName(CanonicalPath(settingsFilePath)), QCryptographicHash::Sha256)
            .toHex()
            .left(32));
}

sockaddr_un Address(const QString& name, socklen_t* size) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    // The abstract namespace: a leading NUL, then the name's bytes, as long as the address says.
    const QByteArray bytes = name.toUtf8().left(qsizetype(sizeof address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, bytes.constData(), size_t(bytes.size()));
    *size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(bytes.size()));
    return address;
}

// A real folder of this user's that nobody else may enter.
bool PrivateFolder(const QByteArray& path) {
    struct stat st;
    return path.startsWith('/') && ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// The lock file opened for this process, or -1 with the reason in `why`.
int OpenLock(const QString& path, QString* why) {
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        *why = QStringLiteral("the lock file \"%1\" cannot be opened (%2)")
                   .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return -1;
    }
    struct stat st;
    if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(descriptor);
        *why = QStringLiteral("the lock file \"%1\" is not a file of yours").arg(path);
        return -1;
    }
    return descriptor;
}

// The name the lock file says its holder answers on.
QString ReadName(int lock) {
    char buffer[128];
    const ssize_t size = ::pread(lock, buffer, sizeof buffer, 0);
    const QString name = size > 0 ? QString::fromUtf8(buffer, size) : QString();
    return name.startsWith(QLatin1String("vorlix-")) ? name : QString();
}

enum class Answer { Shown, Busy, None };

// Asks the agent on the other end of `descriptor` to show its options.
Answer AskToShowOptions(int descriptor) {
    if (::send(descriptor, kShowOptions.constData(), size_t(kShowOptions.size()), MSG_NOSIGNAL) != kShowOptions.size())
        return Answer::None;
    QByteArray answer;
    const QDeadlineTimer deadline(kAnswerMs);
    while (!answer.contains('\n') && answer.size() < kShown.size()) {
        pollfd waiting = {descriptor, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, int(deadline.remainingTime()));
        if (ready == 0) return Answer::Busy;
        if (ready < 0 && errno == EINTR) continue;
        char buffer[16];
        const ssize_t size = ready < 0 ? -1 : ::recv(descriptor, buffer, sizeof buffer, 0);
        if (size <= 0) return Answer::None;
        answer.append(buffer, size);
    }
    return answer == kShown ? Answer::Shown : Answer::None;
}

} // namespace

SingleAgent::SingleAgent(const QString& settingsFilePath, QObject* parent)
    : QObject(parent), name_(ServerName(settingsFilePath)), path_(settingsFilePath) {}

SingleAgent::~SingleAgent() {
    release();
}

QString SingleAgent::ServerName(const QString& settingsFilePath) {
    return QStringLiteral("vorlix-%1-%2").arg(::getuid()).arg(Digest(settingsFilePath));
}

QStringList SingleAgent::LockFilePaths(const QString& settingsFilePath) {
    QStringList paths;
    // Beside the settings file first: whatever the session, every start with the file meets the same lock.
    const QString file = CanonicalPath(settingsFilePath);
    if (QFileInfo(QFileInfo(file).path()).isDir()) paths << file + QStringLiteral(".lock");
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!PrivateFolder(runtime)) runtime = "/run/user/" + QByteArray::number(::geteuid());
    if (PrivateFolder(runtime))
        paths << QFile::decodeName(runtime) + QStringLiteral("/vorlix-%1.lock").arg(Digest(settingsFilePath));
    return paths;
}

// The first lock file that opens as this user's own, or -1 with the reason in `why`.
int SingleAgent::OpenLockFile(const QString& settingsFilePath, QString* why) {
    *why = QStringLiteral("no folder of yours can hold the lock file");
    for (const QString& path : LockFilePaths(settingsFilePath)) {
        const int lock = OpenLock(path, why);
        if (lock >= 0) return lock;
    }
    return -1;
}

QString SingleAgent::ServedName(const QString& settingsFilePath) {
    QString why;
    const int lock = OpenLockFile(settingsFilePath, &why);
    if (lock < 0) return {};
    const bool held = ::flock(lock, LOCK_SH | LOCK_NB) != 0;
    const QString name = held ? ReadName(lock) : QString();
    ::close(lock);
    return name;
}

int SingleAgent::ConnectTo(const QString& name) {
    socklen_t size = 0;
    const sockaddr_un address = Address(name, &size);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) return -1;
    // Without blocking: a server whose queue is full makes the caller try again, not hang.
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
        return -1;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return descriptor;
}

qint64 SingleAgent::PeerUser(int descriptor) {
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return -1;
    return qint64(credentials.uid);
}

bool SingleAgent::Listen(const QString& name) {
    socklen_t size = 0;
    const sockaddr_un address = Address(name, &size);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) return false;
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::listen(descriptor, SOMAXCONN) != 0) {
        ::close(descriptor);
        return false;
    }
    server_ = descriptor;
    notifier_ = new QSocketNotifier(qintptr(descriptor), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleAgent::Accept);
    return true;
}

// Under the lock: find a name to answer on and write it into the lock file for the next start.
void SingleAgent::Serve(QString* note, bool* warning) {
    ::ftruncate(lock_, 0);
    QString name = name_;
    for (int attempt = 1; !Listen(name); ++attempt) {
        if (attempt == 1) {
            // Whoever holds it is not this file's agent (this process holds the lock): say nothing to it.
            *warning = true;
            *note = QStringLiteral("another program, perhaps another user's, holds the name \"%1\" on which Vorlix "
                                   "answers a second start; it is not this agent, so Vorlix does not talk to it")
                        .arg(name_);
        }
        if (attempt == 8) {
            *note += QStringLiteral(", and no other name was free: a second start cannot open this agent's options");
            return;
        }
        name = name_ + QStringLiteral("-%1").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    }
    if (name != name_) *note += QStringLiteral(" and answers on \"%1\" instead").arg(name);
    const QByteArray bytes = name.toUtf8();
    if (::pwrite(lock_, bytes.constData(), size_t(bytes.size()), 0) != bytes.size()) {
        *warning = true;
        *note = QStringLiteral("the lock file cannot be written: a second start cannot open this agent's options");
    }
}

void SingleAgent::Accept() {
    for (int accepted = 0; server_ >= 0 && accepted < kAcceptBatch; ++accepted) {
        const int descriptor = ::accept4(server_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            // Out of descriptors, most likely: the server stays open whatever happens. The oldest
            // connection makes room; with none to free, the queue waits a moment.
            if (!open_.empty()) {
                Close(open_.begin()->first);
                continue;
            }
            notifier_->setEnabled(false);
            QTimer::singleShot(kAcceptPauseMs, this, [this] {
                if (!notifier_) return;
                notifier_->setEnabled(true);
                Accept();
            });
            return;
        }
        // Only this user's own starts may ask; anyone can reach a name in the abstract namespace.
        if (PeerUser(descriptor) != qint64(::getuid())) {
            ::close(descriptor);
            continue;
        }
        const bool scarce = ShortOfDescriptors(descriptor);
        if (open_.size() >= kMaxOpen || (scarce && !open_.empty())) Close(open_.begin()->first);
        const quint64 id = nextId_++;
        auto* notifier = new QSocketNotifier(qintptr(descriptor), QSocketNotifier::Read, this);
        open_.emplace(id, Connection{descriptor, notifier, {}});
        connect(notifier, &QSocketNotifier::activated, this, [this, id] { Read(id); });
        QTimer::singleShot(kSilentMs, notifier, [this, id] { Close(id); });
        // A start writes its request at once: it is often there already.
        Read(id);
        if (scarce) Close(id);
    }
}

void SingleAgent::Read(quint64 id) {
    auto it = open_.find(id);
    if (it == open_.end()) return;
    Connection& connection = it->second;
    char buffer[kMaxRequest];
    const ssize_t size =
        ::recv(connection.descriptor, buffer, size_t(kMaxRequest - connection.request.size()), MSG_DONTWAIT);
    if (size < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (size <= 0) {
        Close(id);
        return;
    }
    connection.request.append(buffer, size);
    const qsizetype end = connection.request.indexOf('\n');
    if (end < 0) {
        if (connection.request.size() >= kMaxRequest) Close(id);
        return;
    }
    // An agent on its way out does not answer: the asking start waits and then runs by itself.
    if (connection.request.left(end + 1) == kShowOptions && onShowOptions && onShowOptions()) {
        it = open_.find(id);
        if (it != open_.end())
            ::send(it->second.descriptor, kShown.constData(), size_t(kShown.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    Close(id);
}

void SingleAgent::Close(quint64 id) {
    const auto it = open_.find(id);
    if (it == open_.end()) return;
    // The notifier may be the one whose signal is being handled: it goes once that has returned.
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    ::close(it->second.descriptor);
    open_.erase(it);
}

void SingleAgent::release() {
    while (!open_.empty())
        Close(open_.begin()->first);
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (server_ >= 0) ::close(server_);
    server_ = -1;
    if (lock_ >= 0) ::close(lock_);
    lock_ = -1;
}

SingleAgent::Claim SingleAgent::claim(QString* note, bool* warning) {
    bool unused = false;
    if (!warning) warning = &unused;
    *warning = false;
    QString why;
    lock_ = OpenLockFile(path_, &why);
    const bool locked = lock_ >= 0;
    const QDeadlineTimer deadline(kClaimMs);
    QString foreign;
    while (true) {
        if (locked ? ::flock(lock_, LOCK_EX | LOCK_NB) == 0 : Listen(name_)) {
            if (locked) {
                Serve(note, warning);
            } else {
                *warning = true;
                *note = QStringLiteral("%1, so only the name \"%2\" keeps one agent per settings file").arg(why, name_);
            }
            return Claim::First;
        }
        const QString name = locked ? ReadName(lock_) : name_;
        const int descriptor = name.isEmpty() ? -1 : ConnectTo(name);
        if (descriptor >= 0) {
            const qint64 peer = PeerUser(descriptor);
            Answer answer = Answer::None;
            if (peer == qint64(::getuid()))
                answer = AskToShowOptions(descriptor);
            else
                foreign = QStringLiteral("another user's program holds the name \"%1\"; it is not a Vorlix of "
                                         "yours, so this start did not talk to it")
                              .arg(name);
            ::close(descriptor);
            if (answer == Answer::Shown) {
                *note =
                    QStringLiteral("Vorlix is already running with \"%1\"; its options window was opened").arg(path_);
                return Claim::HandedOver;
            }
            if (answer == Answer::Busy) {
                // Still busy (loading a large file): the request waits for it, as a double-click would.
                *note = QStringLiteral("Vorlix is already running with \"%1\" and is busy; its options window "
                                       "opens when it is ready")
                            .arg(path_);
                return Claim::HandedOver;
            }
            if (!locked && !foreign.isEmpty()) {
                *warning = true;
                *note = QStringLiteral("%1. %2, so this agent runs without the guard that keeps one agent per "
                                       "settings file")
                            .arg(foreign, why);
                return Claim::First;
            }
        }
        // The running agent is ending (or just ended): once it lets go, this start runs.
        if (deadline.hasExpired()) {
            *warning = true;
            if (!locked) {
                *note = QStringLiteral("another Vorlix with \"%1\" did not end in time; this agent runs without "
                                       "the guard that keeps one agent per settings file")
                            .arg(path_);
                return Claim::First;
            }
            *note =
                QStringLiteral("Vorlix is already running with \"%1\" but did not answer; this start ends").arg(path_);
            if (!foreign.isEmpty()) *note += QStringLiteral(" (%1)").arg(foreign);
            return Claim::Refused;
        }
        QThread::msleep(50);
    }
}
