#include "transfer/filetransfersession.h"

#include "transfer/xferfilesink.h"
#include "transfer/xferfilesource.h"

#include <QFileInfo>
#include <QLocale>

QString groupedNumber(qint64 value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(value);
}

FileTransferSession::FileTransferSession(const XferOptions &options, const QString &client)
    : m_options(options)
    , m_client(client)
{
    m_codec.init(options.receiving(), options.protocol, options.blockSize);
    m_codec.setReceiveCap(options.receiveCap);
}

FileTransferSession::~FileTransferSession() = default;

void FileTransferSession::setSource(std::unique_ptr<XferFileSource> source)
{
    m_source = std::move(source);
    m_codec.setSource(m_source.get());
    if (m_source)
        m_info = m_source->info();
}

void FileTransferSession::setSink(std::unique_ptr<XferFileSink> sink)
{
    m_sink = std::move(sink);
    m_codec.setSink(m_sink.get());
}

XferAction FileTransferSession::start(qint64 now)
{
    if (m_state != Created)
        return {};
    m_startTime = now;
    m_state = Running;
    return apply(m_codec.start(m_info, now), now);
}

XferAction FileTransferSession::feed(const QByteArray &bytes, qint64 now)
{
    return m_state == Running ? apply(m_codec.feed(bytes, now), now) : XferAction();
}

XferAction FileTransferSession::onTimer(qint64 now)
{
    return m_state == Running ? apply(m_codec.onTimer(now), now) : XferAction();
}

XferAction FileTransferSession::onDrained(qint64 now)
{
    return m_state == Running ? apply(m_codec.onDrained(now), now) : XferAction();
}

XferAction FileTransferSession::apply(XferAction action, qint64 now)
{
    if (action.done) {
        ended(now);
        m_state = Completed;
        keepSinkNotes();
    } else if (action.failed) {
        m_errorCode = action.errorCode;
        m_errorMessage = action.message;
        m_endReason = action.errorCode == XferAction::RemoteCancelled ? DeviceCancelled
            : action.errorCode == XferAction::LocalCancelled          ? CancelledHere
                                                                       : OtherFailure;
        ended(now);
        m_state = Draining;
    }
    return action;
}

void FileTransferSession::ended(qint64 now)
{
    m_endTime = now;
    m_bytesAtEnd = m_codec.progress().bytesDone;
}

XferAction FileTransferSession::cancel(EndReason reason, qint64 now)
{
    if (m_state != Created && m_state != Running)
        return {};
    m_endReason = reason;
    switch (reason) {
    case CancelledHere:
        m_errorCode = XferAction::LocalCancelled;
        m_errorMessage = m_options.receiving()
            ? tr("Cancelled.")
            : tr("Cancelled. The device may still have received up to one more block of data -- if this was a "
                 "firmware update, run the whole update again.");
        break;
    case DeviceCancelled:
        m_errorCode = XferAction::RemoteCancelled;
        m_errorMessage = tr("The device cancelled the transfer.");
        break;
    case OtherFailure:
        m_errorCode = XferAction::OutOfStep;
        break;
    case ConnectionClosed:
        m_errorCode = XferAction::ConnectionEnded;
        m_errorMessage = tr("The connection was closed, so the transfer stopped. If this was a firmware update the "
                            "device may be left with an incomplete image -- run the update again.");
        break;
    case ConnectionLost:
        m_errorCode = XferAction::ConnectionEnded;
        m_errorMessage = tr("The connection was lost, so the transfer stopped. If this was a firmware update the "
                            "device may be left with an incomplete image -- run the update again.");
        break;
    }
    ended(now);
    m_state = Draining;
    XferAction action;
    action.bytes = m_codec.cancel(now).bytes;
    return action;
}

void FileTransferSession::close()
{
    if (m_state != Draining)
        return;
    m_state = Closed;
    if (!m_sink || m_errorCode == XferAction::LocalCancelled) {
        if (m_sink)
            m_sink->abort(false);
        return;
    }
    m_sink->abort(true);
    // The engine's message is generic; the sink knows which folder, volume or rename failed.
    if (!m_sink->errorText().isEmpty())
        m_notes << m_sink->errorText();
    if (!m_sink->keptPath().isEmpty())
        m_notes << tr("What arrived was kept as \"%1\".").arg(m_sink->keptPath());
}

void FileTransferSession::keepSinkNotes()
{
    if (!m_sink)
        return;
    const QString saved = QFileInfo(m_sink->finalPath()).fileName();
    if (!m_sink->requestedName().isEmpty())
        m_notes << tr("The device asked for the name \"%1\"; it was saved as \"%2\".").arg(m_sink->requestedName(), saved);
    if (m_sink->nameTaken())
        m_notes << tr("A file of that name already existed, so this one was saved as \"%1\".").arg(saved);
}

int FileTransferSession::drainGraceMs() const
{
    switch (m_endReason) {
    case ConnectionClosed: return 200;
    case ConnectionLost: return 0;
    default: return 2000;
    }
}

XferProgress FileTransferSession::progress() const
{
    XferProgress p = m_codec.progress();
    if (p.fileName.isEmpty())
        p.fileName = m_info.name;
    if (m_state == Completed || m_state == Closed)
        p.bytesDone = m_bytesAtEnd;
    return p;
}

qint64 FileTransferSession::elapsedMs(qint64 now) const
{
    return (m_endTime >= 0 ? m_endTime : now) - m_startTime;
}

double FileTransferSession::rate(qint64 now) const
{
    const qint64 elapsed = elapsedMs(now);
    return elapsed < 1 ? 0.0 : double(progress().bytesDone) * 1000.0 / double(elapsed);
}

qint64 FileTransferSession::eta(qint64 now) const
{
    const XferProgress p = progress();
    const double bytesPerSec = rate(now);
    if (p.bytesTotal < 0 || p.bytesDone <= 0 || elapsedMs(now) < 1 || bytesPerSec <= 0)
        return -1;
    if (p.bytesDone >= p.bytesTotal)
        return 0;
    return qint64(double(p.bytesTotal - p.bytesDone) / bytesPerSec);
}

QString FileTransferSession::headline() const
{
    QString name = progress().fileName;
    if (name.isEmpty())
        name = tr("(unnamed)");
    const QString protocol = xferProtocolName(m_options.protocol);
    if (m_options.receiving())
        return tr("Receiving with %1").arg(protocol);
    return tr("Sending %1 (%2, %3 bytes)").arg(name, protocol, groupedNumber(std::max<qint64>(m_info.size, 0)));
}

QString FileTransferSession::progressText(qint64 now) const
{
    const XferProgress p = progress();
    QString text = p.bytesTotal >= 0 ? tr("%1 / %2 bytes").arg(groupedNumber(p.bytesDone), groupedNumber(p.bytesTotal))
                                     : tr("%1 bytes").arg(groupedNumber(p.bytesDone));
    const double bytesPerSec = rate(now);
    if (bytesPerSec > 0)
        text += tr("  %1 KB/s").arg(QString::number(bytesPerSec / 1024.0, 'f', 1));
    if (const qint64 left = eta(now); left >= 0)
        text += tr("  %1s left").arg(left);
    if (p.totalRetries > 0)
        text += tr("  %1 retries").arg(p.totalRetries);
    return text;
}

QString FileTransferSession::summary(qint64 now) const
{
    const XferProgress p = progress();
    if (m_state == Completed) {
        return tr("Transfer complete: %1 bytes in %2 s, %3 KB/s, %4 retries")
            .arg(groupedNumber(p.bytesDone))
            .arg(QString::number(double(elapsedMs(now)) / 1000.0, 'f', 1))
            .arg(QString::number(rate(now) / 1024.0, 'f', 1))
            .arg(p.totalRetries);
    }
    QString text = tr("Transfer failed: %1").arg(m_errorMessage);
    if (p.bytesTotal >= 1 && p.bytesDone > 0)
        text += tr(" (%1% transferred)").arg(p.bytesDone * 100 / p.bytesTotal);
    return text;
}
