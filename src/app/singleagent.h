#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

class QSocketNotifier;

// One agent per settings file. The agent holds a lock on a file of the user's own (beside the
// settings file, or else in the runtime folder, $XDG_RUNTIME_DIR) for as long as it runs; a later start
// with the same file finds it held and asks that agent, over a local socket, to show its options.
// The socket lives in the abstract namespace, where anyone can take a name: the lock, not the name,
// keeps one agent per file, and a name another user holds is passed over (the agent then answers on
// another one and writes it into the lock file). The kernel frees both with the process: a crashed
// agent leaves nothing stale behind.
class SingleAgent : public QObject {
    Q_OBJECT
public:
    explicit SingleAgent(const QString& settingsFilePath, QObject* parent = nullptr);
    ~SingleAgent() override;

    enum class Claim { First, HandedOver, Refused };
    // First: this process runs the agent. HandedOver: an agent of this user is running with the same
    // file and was asked to show its options. Refused: an agent of this user runs with the file but
    // could not be reached; this start must end. An agent that is ending lets go once it has saved,
    // and this start then runs. Whatever should be told goes to `note`; `warning` is set when it is
    // a problem the user should see, not only a remark.
    Claim claim(QString* note, bool* warning = nullptr);

    // No more hand-overs, and a start from now on runs: called once the agent has saved on its way out.
    void release();

    // Answers a hand-over; false while the agent is ending.
    std::function<bool()> onShowOptions;

    // The name an agent first tries to answer on: the user id and a digest of the canonical path, so
    // the same file reached by another path meets the same agent.
    static QString ServerName(const QString& settingsFilePath);
    // Where the lock file may be, in the order tried: beside the settings file, in the runtime folder.
    static QStringList LockFilePaths(const QString& settingsFilePath);
    // The name the agent with this file answers on, as its lock file says; empty when none runs.
    static QString ServedName(const QString& settingsFilePath);

    // A connection to the abstract name (a blocking descriptor, or -1 with errno set).
    static int ConnectTo(const QString& name);
    // The user on the other end of a local connection; -1 when it cannot be told.
    static qint64 PeerUser(int descriptor);

private:
    static int OpenLockFile(const QString& settingsFilePath, QString* why);

    // One hand-over request on its way in.
    struct Connection {
        int descriptor;
        QSocketNotifier* notifier;
        QByteArray request;
    };

    bool Listen(const QString& name);
    void Serve(QString* note, bool* warning);
    void Accept();
    void Read(quint64 id);
    void Close(quint64 id);

    QString name_;
    QString path_;
    int lock_ = -1;
    int server_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::map<quint64, Connection> open_;
    quint64 nextId_ = 0;
};
