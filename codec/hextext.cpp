#include "codec/hextext.h"

#include <QCoreApplication>

namespace {

int hexValue(char16_t u)
{
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Length of the well-formed sequence starting at p (1 to 4), or 0 when the lead byte
// does not start one. Ranges follow Unicode's table of well-formed byte sequences, so
// overlong forms, surrogates and values above U+10FFFF are refused.
int sequenceLength(const uchar *p, const uchar *end)
{
    const uchar b0 = p[0];
    if (b0 < 0x80)
        return 1;
    int length = 0;
    uchar lo = 0x80;
    uchar hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0)
            lo = 0xA0;
        else if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < lo || p[1] > hi)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

HexInput parseHexInput(QStringView text)
{
    HexInput result;
    result.bytes.reserve(text.size() / 2);
    int pending = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isSpace())
            continue;
        const int v = hexValue(c.unicode());
        // Everything before the first bad character is a digit or a blank, all in
        // the BMP, so the index is also the position the user counts.
        if (v < 0) {
            result.bytes.clear();
            result.error = QCoreApplication::translate("ToolBox", "Invalid hex character at position %1.")
                                   .arg(i + 1);
            return result;
        }
        if (pending < 0) {
            pending = v;
        } else {
            result.bytes.append(char((pending << 4) | v));
            pending = -1;
        }
    }
    if (pending >= 0) {
        result.bytes.clear();
        result.error = QCoreApplication::translate("ToolBox", "Hex input must contain complete bytes.");
        return result;
    }
    result.ok = true;
    return result;
}

QString toHexPairs(const QByteArray &bytes, int bytesPerLine)
{
    QString text = QString::fromLatin1(bytes.toHex(' ').toUpper());
    if (bytesPerLine > 0) {
        for (qsizetype i = 3 * qsizetype(bytesPerLine) - 1; i < text.size(); i += 3 * qsizetype(bytesPerLine))
            text[i] = QLatin1Char('\n');
    }
    return text;
}

Utf8Text decodeUtf8Lossy(const QByteArray &bytes)
{
    Utf8Text result;
    const auto *begin = reinterpret_cast<const uchar *>(bytes.constData());
    const uchar *end = begin + bytes.size();
    const uchar *run = begin; // start of the current well-formed run
    const uchar *p = begin;
    while (p < end) {
        const int length = sequenceLength(p, end);
        if (length > 0) {
            p += length;
            continue;
        }
        result.text.append(QString::fromUtf8(reinterpret_cast<const char *>(run), p - run));
        result.text.append(QChar::ReplacementCharacter);
        if (result.firstInvalid < 0)
            result.firstInvalid = p - begin;
        ++result.invalidBytes;
        run = ++p;
    }
    if (run == begin)
        result.text = QString::fromUtf8(bytes);
    else
        result.text.append(QString::fromUtf8(reinterpret_cast<const char *>(run), end - run));
    return result;
}
