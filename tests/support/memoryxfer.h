#pragma once

#include "transfer/xferfileinfo.h"
#include "transfer/xfersink.h"
#include "transfer/xfersource.h"

#include <QByteArray>

// A file held in memory, with switches to make reads fail or the file "change".
class MemorySource : public XferSource
{
public:
    explicit MemorySource(QByteArray data = QByteArray()) : m_data(std::move(data)) {}
    qint64 size() const override { return m_data.size(); }
    QByteArray read(qint64 offset, qint32 length) override
    {
        m_error = m_error || failReads;
        return failReads ? QByteArray() : m_data.mid(offset, length);
    }
    bool hasError() const override { return m_error; }
    bool isUnchanged() const override { return !changed; }

    bool failReads = false;
    bool changed = false;

private:
    QByteArray m_data;
    bool m_error = false;
};

// Collects a received file in memory; every step can be made to fail.
class MemorySink : public XferSink
{
public:
    bool open(const XferFileInfo &fileInfo) override
    {
        ++opens;
        info = fileInfo;
        return isOpen = !failOpen;
    }
    bool write(const QByteArray &bytes) override
    {
        ++writes;
        if (isOpen && !failWrite)
            data.append(bytes);
        return isOpen && !failWrite;
    }
    bool finish(qint64 expectedSize) override
    {
        finishedWith = expectedSize;
        if (!isOpen || failFinish)
            return false;
        if (expectedSize >= 0 && data.size() > expectedSize)
            data.truncate(expectedSize);
        isOpen = false;
        return finished = true;
    }
    void abort(bool) override { isOpen = false; }
    qint64 bytesWritten() const override { return data.size(); }

    XferFileInfo info;
    QByteArray data;
    int opens = 0;
    int writes = 0;
    qint64 finishedWith = -2;
    bool isOpen = false;
    bool finished = false;
    bool failOpen = false;
    bool failWrite = false;
    bool failFinish = false;
};
