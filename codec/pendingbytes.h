#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The bytes a decoder held back from the last chunk followed by this chunk;
// no copy when nothing was held. `joined` keeps the storage alive.
inline QByteArrayView withPendingBytes(QByteArray &pending, const QByteArray &bytes, QByteArray &joined)
{
    if (pending.isEmpty())
        return bytes;
    joined = pending + bytes;
    pending.clear();
    return joined;
}
