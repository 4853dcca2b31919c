#pragma once

#include <QByteArray>

struct XferFileInfo;

// Where a received file goes; finish commits it, abort throws it away or keeps it.
class XferSink
{
public:
    virtual ~XferSink() = default;
    virtual bool open(const XferFileInfo &info) = 0;
    virtual bool write(const QByteArray &data) = 0;
    virtual bool finish(qint64 expectedSize) = 0;  // -1: size unknown
    virtual void abort(bool keepPartial) = 0;
    virtual qint64 bytesWritten() const = 0;
};
