#pragma once

#include <QString>

// A snapshot of a running transfer for the progress display.
struct XferProgress
{
    qint64 bytesDone = 0;
    qint64 bytesTotal = -1;  // -1: unknown
    qint32 blockNumber = 0;
    qint32 totalRetries = 0;
    QString fileName;
};
