#pragma once

#include <QByteArray>
#include <QString>

// What the transfer engine wants done after one call: write, end, or wait.
struct XferAction
{
    // Shown to the user through the message; the numbers are stable.
    enum Code : qint32 {
        NoError = 0,
        NotStarted = 1,
        RetriesExhausted = 2,
        RemoteCancelled = 3,
        LocalCancelled = 4,
        ConnectionEnded = 5,
        SourceReadFailed = 8,
        SourceChanged = 9,
        SinkCreateFailed = 10,
        SinkWriteFailed = 11,
        SinkFinishFailed = 12,
        ReceiveCapExceeded = 14,
        OutOfStep = 16,
    };

    QByteArray bytes;
    bool done = false;
    bool failed = false;
    qint32 errorCode = NoError;
    QString message;
    qint32 timeoutMs = -1;  // restart the single-shot timer with this, -1: stop it

    bool ended() const { return done || failed; }
};
