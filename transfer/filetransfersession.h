#pragma once

#include "transfer/xferoptions.h"
#include "transfer/xmodemcodec.h"

#include <QCoreApplication>
#include <QStringList>
#include <memory>

class XferFileSink;
class XferFileSource;

// One file transfer over one port: the engine, the file it reads or writes, how it
// ended and the texts shown for it. No I/O and no timers, like the engine: the port's
// driver (PortTransfer) feeds it with the monotonic time and writes what it returns.
//
// Call order: construction, setSource (send) or setSink and setFileInfo (receive),
// start, then feed / onTimer / onDrained as for XmodemCodec; cancel at any time. Once
// it is Draining, close it when the abort bytes are out; a Completed one needs nothing.
class FileTransferSession
{
    Q_DECLARE_TR_FUNCTIONS(FileTransferSession)

public:
    enum State : qint32 { Created = 0, Running = 1, Draining = 2, Completed = 3, Closed = 4 };
    enum EndReason : qint32 {
        CancelledHere = 0,
        DeviceCancelled = 1,
        OtherFailure = 2,
        ConnectionClosed = 3,
        ConnectionLost = 4,
    };

    explicit FileTransferSession(const XferOptions &options, const QString &client = QString());
    ~FileTransferSession();
    FileTransferSession(const FileTransferSession &) = delete;
    FileTransferSession &operator=(const FileTransferSession &) = delete;

    void setSource(std::unique_ptr<XferFileSource> source);
    void setSink(std::unique_ptr<XferFileSink> sink);
    void setFileInfo(const XferFileInfo &info) { m_info = info; }

    XferAction start(qint64 now);
    XferAction feed(const QByteArray &bytes, qint64 now);
    XferAction onTimer(qint64 now);
    XferAction onDrained(qint64 now);
    // The abort bytes to write; empty once the transfer has ended.
    XferAction cancel(EndReason reason, qint64 now);
    // Draining -> Closed: the partial file is kept or deleted.
    void close();

    // How long the abort bytes may take to leave before the session is closed anyway.
    int drainGraceMs() const;
    bool isForClient(const QString &peer) const { return m_client.isEmpty() || m_client == peer; }

    const XferOptions &options() const { return m_options; }
    QString client() const { return m_client; }
    State state() const { return m_state; }
    bool isActive() const { return m_state == Running || m_state == Draining; }
    EndReason endReason() const { return m_endReason; }
    qint32 errorCode() const { return m_errorCode; }
    QString errorMessage() const { return m_errorMessage; }
    const XmodemCodec &codec() const { return m_codec; }
    const XferFileSink *sink() const { return m_sink.get(); }
    const XferFileInfo &fileInfo() const { return m_info; }

    XferProgress progress() const;
    qint64 elapsedMs(qint64 now) const;
    double rate(qint64 now) const;  // bytes per second
    qint64 eta(qint64 now) const;   // seconds, -1: unknown

    QString headline() const;
    // "done / total bytes", then the rate, the time left and the retries when known.
    QString progressText(qint64 now) const;
    QString summary(qint64 now) const;
    QStringList takeNotes() { return std::exchange(m_notes, QStringList()); }

private:
    XferAction apply(XferAction action, qint64 now);
    void ended(qint64 now);
    void keepSinkNotes();

    XferOptions m_options;
    QString m_client;
    State m_state = Created;
    EndReason m_endReason = OtherFailure;
    XmodemCodec m_codec;
    std::unique_ptr<XferFileSource> m_source;
    std::unique_ptr<XferFileSink> m_sink;
    XferFileInfo m_info;
    qint32 m_errorCode = XferAction::NoError;
    QString m_errorMessage;
    QStringList m_notes;
    qint64 m_startTime = 0;
    qint64 m_endTime = -1;  // -1: still running
    qint64 m_bytesAtEnd = 0;
};

// Thousands grouped whatever the locale's default says ("1,048,576" in English).
QString groupedNumber(qint64 value);
