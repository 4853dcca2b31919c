#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Hex digits read as the tools read them: whitespace of any kind is ignored anywhere
// (also between the two digits of a byte), every other character must be a hex digit.
struct HexInput
{
    QByteArray bytes;
    QString error; // empty when ok
    bool ok = false;
};

// The first bad character is reported with its 1-based position; an odd digit count
// has its own message. Empty input gives no bytes and no error.
HexInput parseHexInput(QStringView text);

// "41 0A FF": upper-case pairs separated by single blanks; with bytesPerLine > 0 a line
// break takes the blank's place after every bytesPerLine pairs.
QString toHexPairs(const QByteArray &bytes, int bytesPerLine = 0);

// UTF-8 decoded so that nothing is hidden: every byte that is not part of a well-formed
// sequence becomes one U+FFFD, so invalid input never vanishes silently.
struct Utf8Text
{
    QString text;
    qsizetype invalidBytes = 0;
    qsizetype firstInvalid = -1; // 0-based byte offset, -1 when the bytes are valid
};
Utf8Text decodeUtf8Lossy(const QByteArray &bytes);
