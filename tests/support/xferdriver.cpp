#include "tests/support/xferdriver.h"

#include "transfer/xmodemcodec.h"

#include <QEventLoop>
#include <QIODevice>

XferDriver::XferDriver(XmodemCodec *codec, QIODevice *device, QObject *parent)
    : QObject(parent), m_codec(codec), m_device(device)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &XferDriver::onTimeout);
    connect(m_device, &QIODevice::readyRead, this, &XferDriver::onReadyRead);
    connect(m_device, &QIODevice::bytesWritten, this, &XferDriver::onBytesWritten);
}

void XferDriver::start(const XferFileInfo &info)
{
    m_clock.start();
    // Whatever the device said before we started belongs to nobody.
    m_device->readAll();
    apply(m_codec->start(info, m_clock.elapsed()));
}

bool XferDriver::waitForFinished(int ms)
{
    if (m_finished)
        return true;
    QEventLoop loop;
    connect(this, &XferDriver::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return m_finished;
}

void XferDriver::cancel()
{
    if (m_ending)
        return;
    m_out.clear();
    apply(m_codec->cancel(m_clock.elapsed()));
}

void XferDriver::onReadyRead()
{
    const QByteArray data = m_device->readAll();
    if (m_ending || data.isEmpty())
        return;  // after the end the device's leftovers are swallowed
    apply(m_codec->feed(data, m_clock.elapsed()));
}

void XferDriver::onBytesWritten()
{
    if (!m_out.isEmpty())
        flush();
    else if (m_device->bytesToWrite() == 0 && !m_drainQueued)
        drained();  // from a signal, so no recursion into the codec's call
}

void XferDriver::onTimeout()
{
    if (m_ending) {
        finish();  // the last bytes never drained
        return;
    }
    apply(m_codec->onTimer(m_clock.elapsed()));
}

void XferDriver::apply(const XferAction &action)
{
    if (!action.bytes.isEmpty()) {
        m_out += action.bytes;
        m_awaitingDrain = true;
    }
    if (action.ended()) {
        m_result = action;
        m_ending = true;
        m_timer.start(DrainGraceMs);
    } else if (action.timeoutMs >= 0) {
        m_timer.start(action.timeoutMs);
    } else {
        m_timer.stop();
    }
    flush();
}

void XferDriver::flush()
{
    if (!m_out.isEmpty()) {
        if (m_device->bytesToWrite() > WriteLimit)
            return;  // bytesWritten brings us back
        const qint64 n = m_device->write(m_out);
        if (n <= 0) {
            // The device takes nothing: the connection is gone.
            m_out.clear();
            if (!m_ending) {
                XferAction lost = m_codec->cancel(m_clock.elapsed());
                lost.bytes.clear();
                lost.errorCode = XferAction::ConnectionEnded;
                lost.message = QStringLiteral("The connection was lost, so the transfer stopped.");
                m_result = lost;
            }
            finish();
            return;
        }
        m_out.remove(0, n);
    }
    if (m_out.isEmpty() && m_device->bytesToWrite() == 0)
        queueDrained();
}

void XferDriver::queueDrained()
{
    if (m_drainQueued)
        return;
    m_drainQueued = true;
    QTimer::singleShot(0, this, &XferDriver::drainedFromQueue);
}

void XferDriver::drainedFromQueue()
{
    m_drainQueued = false;
    drained();
}

void XferDriver::drained()
{
    if (!m_out.isEmpty() || m_device->bytesToWrite() > 0)
        return;
    if (m_ending) {
        finish();
        return;
    }
    if (!m_awaitingDrain)
        return;
    m_awaitingDrain = false;
    apply(m_codec->onDrained(m_clock.elapsed()));
}

void XferDriver::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer.stop();
    emit finished();
}
