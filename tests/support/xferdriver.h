#pragma once

#include "transfer/xferaction.h"
#include "transfer/xferfileinfo.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QIODevice;
class XmodemCodec;

// Pumps an XmodemCodec over an open device the way a port pane does: received bytes
// go to feed, the action's bytes are written, one single-shot timer follows the
// action's timeout, and onDrained runs once the device has written everything.
class XferDriver : public QObject
{
    Q_OBJECT

public:
    XferDriver(XmodemCodec *codec, QIODevice *device, QObject *parent = nullptr);

    void start(const XferFileInfo &info);
    void cancel();
    bool isFinished() const { return m_finished; }
    // Runs an event loop until finished or ms passed.
    bool waitForFinished(int ms);
    const XferAction &result() const { return m_result; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }

    // Unwritten bytes the device may hold before we stop handing it more.
    static constexpr qint64 WriteLimit = 32768;
    // How long the last bytes (final ACK or abort) get to drain.
    static constexpr int DrainGraceMs = 2000;

signals:
    void finished();

private:
    void onReadyRead();
    void onBytesWritten();
    void onTimeout();
    void apply(const XferAction &action);
    void flush();
    void queueDrained();
    void drainedFromQueue();
    void drained();
    void finish();

    XmodemCodec *m_codec;
    QIODevice *m_device;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QByteArray m_out;
    XferAction m_result;
    bool m_awaitingDrain = false;
    bool m_drainQueued = false;
    bool m_ending = false;
    bool m_finished = false;
};
