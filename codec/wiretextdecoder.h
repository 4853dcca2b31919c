#pragma once

#include <QtGlobal>

class QByteArray;
class QString;

// Stateful byte-to-text decoder for one stream: call decode() with each chunk in
// arrival order; an incomplete trailing character is held until the next chunk.
// reset() forgets the held bytes and the invalid count.
class WireTextDecoder
{
public:
    virtual ~WireTextDecoder() = default;
    virtual QString decode(const QByteArray &bytes) = 0;
    virtual void reset() = 0;
    // Invalid input units replaced by U+FFFD since construction or the last reset().
    virtual qint64 invalidCount() const = 0;
};
