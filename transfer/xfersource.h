#pragma once

#include <QByteArray>

// The file being sent, read by offset so that a block can be read again.
class XferSource
{
public:
    virtual ~XferSource() = default;
    virtual qint64 size() const = 0;
    virtual QByteArray read(qint64 offset, qint32 length) = 0;
    virtual bool hasError() const = 0;
    // False when the file was modified since it was opened.
    virtual bool isUnchanged() const = 0;
};
