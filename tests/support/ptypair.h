#pragma once

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <memory>

class QTemporaryDir;

// A linked pseudo-terminal pair made by socat under two fixed link names, ttyA and
// ttyB in a folder. Stopping socat removes the links, as an unplugged adapter loses
// its device node; starting it again brings the same names back with new terminals.
class PtyPair
{
public:
    // Without a folder the pair lives in a temporary one of its own.
    explicit PtyPair(const QString &folder = QString());
    ~PtyPair() { stop(); }

    static QString socat() { return QStandardPaths::findExecutable(QStringLiteral("socat")); }
    static bool available() { return !socat().isEmpty(); }

    QString folder() const { return m_folder; }
    QString a() const { return QDir(m_folder).filePath(QStringLiteral("ttyA")); }
    QString b() const { return QDir(m_folder).filePath(QStringLiteral("ttyB")); }

    // Both wait until the links exist (start) or are gone (stop).
    bool start();
    bool stop();

private:
    std::unique_ptr<QTemporaryDir> m_ownFolder;
    QString m_folder;
    QProcess m_process;
};
