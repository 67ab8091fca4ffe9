#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

// One agent per settings file. The first start holds a local server named after the file; a later
// start with the same file asks that agent to show its options and ends. The name lives in the
// abstract socket namespace, so the kernel frees it with the process: a crashed agent leaves nothing
// stale behind.
class SingleAgent : public QObject {
    Q_OBJECT
public:
    explicit SingleAgent(const QString& settingsFilePath, QObject* parent = nullptr);
    ~SingleAgent() override;

    enum class Claim { First, HandedOver };
    // First: this process now holds the name and runs the agent. HandedOver: an agent of this user is
    // running with the same file and was asked to show its options. An agent that is ending lets go
    // once it has saved, and this start then runs. Whatever should be told goes to `note`.
    Claim claim(QString* note);

    // No more hand-overs: called once the agent has saved on its way out.
    void release();

    // Answers a hand-over; false while the agent is ending.
    std::function<bool()> onShowOptions;

    // The user id and a digest of the canonical path: the same file reached by another path meets
    // the same agent.
    static QString ServerName(const QString& settingsFilePath);

private:
    bool Listen();
    void Answer(QLocalSocket* socket);

    QString name_;
    QString path_;
    QLocalServer* server_ = nullptr;
};
