#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QProcess;

// A socat pty pair whose ends are in a folder, and lrzsz programs run on an end.
// lrzsz runs behind a second socat, so its flush on exit hits a socket and cannot
// throw away its own last bytes still waiting in the pty.
class LrzszPeer
{
public:
    LrzszPeer() = default;
    ~LrzszPeer();
    LrzszPeer(const LrzszPeer &) = delete;
    LrzszPeer &operator=(const LrzszPeer &) = delete;

    // Empty when socat and lrzsz are installed, else what is missing.
    static QString missingTools();

    bool startPair(const QString &folder);
    QString ttyA() const { return m_folder + QStringLiteral("/ttyA"); }
    QString ttyB() const { return m_folder + QStringLiteral("/ttyB"); }

    // Runs a shell command such as "rx -q -c out.bin" on tty inside workDir.
    QProcess *run(const QString &tty, const QString &command, const QString &workDir);
    // Waits for a process started by run; false on timeout (the process is then killed).
    static bool wait(QProcess *process, int ms);

private:
    QString m_folder;
    QProcess *m_pair = nullptr;
    QList<QProcess *> m_programs;
};
