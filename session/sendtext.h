#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct FormatSetting;

// What the send box's text becomes on the wire; nothing is sent unless ok.
struct SendEncodeResult
{
    QByteArray bytes;
    QString historyText;
    QString error;
    bool ok = false;
};

// Hex digits two at a time; a blank or line break before a pair is skipped,
// other characters count as 0, a lone trailing digit is ignored:
// "AB CD" -> AB CD, "1 2" -> 10.
QByteArray parseHexText(const QString &text);
// Appends LF when missing, then rewrites every LF for line-ending mode 1..4;
// mode 0 and unknown modes leave the text as it is.
QString applyLineEnding(const QString &text, int mode);
// Text through the send encoding with the line ending, or hex with "//"
// comments; the checksum of SendChecksum is appended in both cases.
SendEncodeResult encodeSend(const QString &text, bool hex, const FormatSetting &settings);
// Bytes the Enter key sends in the receive terminal for TerminalEnterMode.
QByteArray enterBytes(int mode);
// Newest first, no duplicates, at most 257 entries.
QStringList updatedHistory(QStringList history, const QString &entry);
// What the history drop-down shows for an entry (its first 80 characters).
QString historyLabel(const QString &entry);
