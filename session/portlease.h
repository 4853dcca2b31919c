#pragma once

#include <QObject>
#include <QString>

// Who asks to use a port. A transfer borrows the port exclusively; bridges share it
// with the user and the cloud console but keep a transfer out.
enum class PortRequester { User, Console, Bridge, Transfer };

// What a requester wants to do with the port.
enum class PortOperation { SendData, ControlLines, PortSettings, Pause };

// The port's lease: which features hold the port, and what that leaves the others.
// Every operation of a session that could disturb a feature asks permits() first.
class PortLease : public QObject
{
    Q_OBJECT
public:
    explicit PortLease(QObject *parent = nullptr);

    // A transfer needs the port alone; a bridge may share it with other bridges.
    // On refusal `why` holds the text to show.
    bool acquire(PortRequester holder, QString *why = nullptr);
    void release(PortRequester holder);

    bool transferHeld() const { return m_transfer; }
    int bridgeHolds() const { return m_bridges; }

    bool permits(PortRequester requester, PortOperation operation, QString *why = nullptr) const;

signals:
    void changed();

private:
    bool m_transfer = false;
    int m_bridges = 0;
};
