#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Test data the same on every run: random bytes from a seed, and every byte value.
inline QByteArray randomBytes(qint64 size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char &c : data)
        c = char(rng.bounded(256));
    return data;
}

// 0x00 to 0xFF in order, copies times over.
inline QByteArray allByteValues(int copies)
{
    QByteArray out;
    for (int i = 0; i < 256 * copies; ++i)
        out.append(char(i));
    return out;
}
