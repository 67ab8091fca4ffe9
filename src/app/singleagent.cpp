#include "app/singleagent.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray kShowOptions = "options\n";
const QByteArray kShown = "shown\n";
// How long a start keeps trying while another agent with the same file is ending.
constexpr int kClaimMs = 15000;
// How long a start waits for a busy agent (one still loading a large file) to answer.
constexpr int kAnswerMs = 10000;

QString CanonicalPath(const QString& path) {
    const QFileInfo file(path);
    if (file.exists()) return file.canonicalFilePath();
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : folder + QLatin1Char('/') + file.fileName();
}

// The user on the other end of a local connection; -1 when it cannot be told.
qint64 PeerUser(qintptr descriptor) {
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return -1;
    return qint64(credentials.uid);
}

} // namespace

SingleAgent::SingleAgent(const QString& settingsFilePath, QObject* parent)
    : QObject(parent), name_(ServerName(settingsFilePath)), path_(settingsFilePath) {}

SingleAgent::~SingleAgent() = default;

QString SingleAgent::ServerName(const QString& settingsFilePath) {
    const QByteArray digest =
        QCryptographicHash::hash(CanonicalPath(settingsFilePath).toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("vorlix-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest.left(32)));
}

bool SingleAgent::Listen() {
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!server->listen(name_)) {
        delete server;
        return false;
    }
    server_ = server;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // Only this user's own starts may ask; anyone can reach a name in the abstract namespace.
            if (PeerUser(socket->socketDescriptor()) != qint64(::getuid())) {
                socket->abort();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Answer(socket); });
            Answer(socket);
        }
    });
    return true;
}

void SingleAgent::Answer(QLocalSocket* socket) {
    if (!socket->canReadLine()) return;
    const QByteArray request = socket->readLine(64);
    // An agent on its way out does not answer: the asking start waits and then runs by itself.
    if (request != kShowOptions || !onShowOptions || !onShowOptions()) {
        socket->abort();
        return;
    }
    socket->write(kShown);
    socket->flush();
    socket->disconnectFromServer();
}

void SingleAgent::release() {
    if (!server_) return;
    server_->close();
    delete server_;
    server_ = nullptr;
}

SingleAgent::Claim SingleAgent::claim(QString* note) {
    const QDeadlineTimer deadline(kClaimMs);
    while (true) {
        if (Listen()) return Claim::First;
        QLocalSocket socket;
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        socket.connectToServer(name_);
        if (socket.waitForConnected(1000)) {
            if (PeerUser(socket.socketDescriptor()) != qint64(::getuid())) {
                // Someone else took the name: this start cannot tell whether an agent of its own runs.
                *note = QStringLiteral("another user's program holds the name that keeps one agent per settings "
                                       "file; this agent runs without that guard");
                return Claim::First;
            }
            socket.write(kShowOptions);
            socket.waitForBytesWritten(1000);
            QByteArray answer;
            while (!answer.contains('\n') && socket.waitForReadyRead(kAnswerMs))
                answer += socket.readAll();
            if (answer == kShown) {
                *note =
                    QStringLiteral("Vorlix is already running with \"%1\"; its options window was opened").arg(path_);
                return Claim::HandedOver;
            }
            if (socket.state() == QLocalSocket::ConnectedState) {
                // Still busy (loading a large file): the request waits for it, as a double-click would.
                *note = QStringLiteral("Vorlix is already running with \"%1\" and is busy; its options window "
                                       "opens when it is ready")
                            .arg(path_);
                return Claim::HandedOver;
            }
        }
        // The running agent is ending (or just ended): once it lets go of the name, this start runs.
        if (deadline.hasExpired()) {
            *note = QStringLiteral("another Vorlix with \"%1\" did not end in time; this agent runs without "
                                   "the guard that keeps one agent per settings file")
                        .arg(path_);
            return Claim::First;
        }
        QThread::msleep(50);
    }
}
