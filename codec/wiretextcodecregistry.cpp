#include "codec/wiretextcodecregistry.h"

#include "codec/converterdecoder.h"
#include "codec/framedlegacydecoder.h"

#include <QHash>
#include <QTextCodec>

namespace {

using Engine = WireCodecEntry::Engine;

const WireCodecEntry kCatalog[WireTextCodecRegistry::catalogSize] = {
    {"UTF-8", Engine::BuiltIn, QStringConverter::Utf8, nullptr, FramingProfile::none(),
     "65001 cp65001"},
    {"GB18030", Engine::Named, QStringConverter::Utf8, "GB18030", FramingProfile::gb18030(),
     "54936 cp54936"},
    {"GBK", Engine::Named, QStringConverter::Utf8, "GBK", FramingProfile::doubleByte(),
     "936 cp936 ms936 windows-936"},
    {"GB2312", Engine::Named, QStringConverter::Utf8, "GB2312", FramingProfile::doubleByte(),
     "euc-cn csgb2312 cp20936 20936 chinese"},
    {"Big5", Engine::Named, QStringConverter::Utf8, "Big5", FramingProfile::big5(),
     "950 cp950 csbig5"},
    {"Shift-JIS", Engine::Named, QStringConverter::Utf8, "Shift_JIS", FramingProfile::shiftJis(),
     "sjis ms_kanji 932 cp932 windows-31j csshiftjis"},
    {"EUC-KR", Engine::Named, QStringConverter::Utf8, "EUC-KR", FramingProfile::eucKr(),
     "949 cp949 windows-949 ks_c_5601-1987 cseuckr"},
    {"ISO-8859-1", Engine::BuiltIn, QStringConverter::Latin1, nullptr, FramingProfile::none(),
     "latin1 l1 819 cp819 iec_8859-1"},
    {"Windows-1252", Engine::Named, QStringConverter::Utf8, "windows-1252",
     FramingProfile::none(), "1252 cp1252"},
    {"System", Engine::BuiltIn, QStringConverter::System, nullptr, FramingProfile::none(),
     "locale"},
};

constexpr qsizetype kSliceUnits = 1048576;
constexpr qsizetype kRefusalBlock = 512;

QTextCodec *namedCodec(const WireCodecEntry &e)
{
    return e.engine == Engine::Named ? QTextCodec::codecForName(e.converterName) : nullptr;
}

bool isAvailable(const WireCodecEntry &e)
{
    return e.engine == Engine::BuiltIn || namedCodec(e) != nullptr;
}

const QHash<QString, int> &nameIndex()
{
    // Function-local static: built once, thread-safe initialisation.
    static const QHash<QString, int> index = [] {
        QHash<QString, int> h;
        for (int row = 0; row < WireTextCodecRegistry::catalogSize; ++row) {
            const WireCodecEntry &e = kCatalog[row];
            h.insert(WireTextCodecRegistry::normalizedName(QString::fromLatin1(e.displayName)), row);
            const QStringList aliases =
                    QString::fromLatin1(e.aliases).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const QString &alias : aliases)
                h.insert(WireTextCodecRegistry::normalizedName(alias), row);
        }
        return h;
    }();
    return index;
}

// No encoding carries an unpaired surrogate. Converters hold a trailing high
// surrogate back for a partner that never comes and report nothing, so it would
// vanish silently; checking up front also covers pieces split around ASCII fixes.
bool hasUnpairedSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

// Encodes the whole text; false when any character could not be represented.
bool encodeWith(const WireCodecEntry &e, QStringView text, QByteArray *out)
{
    const bool unpaired = hasUnpairedSurrogate(text);
    if (e.engine == Engine::BuiltIn) {
        QStringEncoder encoder(e.builtIn);
        QByteArray bytes = encoder.encode(text);
        if (out)
            *out = std::move(bytes);
        return !encoder.hasError() && !unpaired;
    }
    QTextCodec *codec = namedCodec(e);
    if (!codec)
        return false;
    if (text.isEmpty()) {
        if (out)
            out->clear();
        return true;
    }
    const QByteArray asciiFixes = FramedLegacyDecoder::asciiMismatches(codec);
    QTextCodec::ConverterState state;
    QByteArray bytes;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype n = std::min(kSliceUnits, text.size() - pos);
        // Never split a surrogate pair between two converter calls.
        if (pos + n < text.size() && text.at(pos + n - 1).isHighSurrogate()
            && text.at(pos + n).isLowSurrogate())
            --n;
        if (!asciiFixes.isEmpty()) {
            // ASCII bytes the codec would remap go out as themselves.
            for (qsizetype k = 0; k < n; ++k) {
                const char16_t u = text.at(pos + k).unicode();
                if (u < 0x80 && asciiFixes.contains(char(u))) {
                    n = k == 0 ? 1 : k;
                    break;
                }
            }
            const char16_t first = text.at(pos).unicode();
            if (n == 1 && first < 0x80 && asciiFixes.contains(char(first))) {
                bytes.append(char(first));
                ++pos;
                continue;
            }
        }
        bytes += codec->fromUnicode(text.constData() + pos, int(n), &state);
        pos += n;
    }
    if (out)
        *out = std::move(bytes);
    return state.invalidChars == 0 && !unpaired;
}

} // namespace

const WireCodecEntry &WireTextCodecRegistry::entry(int row)
{
    return kCatalog[(row >= 0 && row < catalogSize) ? row : 0];
}

QString WireTextCodecRegistry::normalizedName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('-') || c == QLatin1Char('_'))
            continue;
        out.append(c.toLower());
    }
    return out;
}

QStringList WireTextCodecRegistry::availableEncodings()
{
    QStringList names;
    for (const WireCodecEntry &e : kCatalog) {
        if (isAvailable(e))
            names.append(QString::fromLatin1(e.displayName));
    }
    return names;
}

int WireTextCodecRegistry::lookup(const QString &name)
{
    const int row = nameIndex().value(normalizedName(name), -1);
    if (row < 0 || !isAvailable(kCatalog[row]))
        return -1;
    return row;
}

QString WireTextCodecRegistry::canonicalName(const QString &name)
{
    return QString::fromLatin1(entry(lookup(name)).displayName);
}

QString WireTextCodecRegistry::defaultEncoding()
{
    return QStringLiteral("UTF-8");
}

std::unique_ptr<WireTextDecoder> WireTextCodecRegistry::createDecoder(const QString &name)
{
    const WireCodecEntry &e = entry(lookup(name));
    if (e.engine == Engine::Named) {
        if (QTextCodec *codec = namedCodec(e))
            return std::make_unique<FramedLegacyDecoder>(codec, e.framing);
    }
    return std::make_unique<ConverterDecoder>(e.engine == Engine::BuiltIn
                                                      ? e.builtIn
                                                      : QStringConverter::Utf8);
}

WireEncodeResult WireTextCodecRegistry::encode(const QString &text, const QString &name)
{
    const WireCodecEntry &e = entry(lookup(name));
    const QString display = QString::fromLatin1(e.displayName);
    WireEncodeResult result;
    if (encodeWith(e, text, &result.bytes)) {
        result.ok = true;
        return result;
    }
    result.bytes.clear();
    qsizetype pos = 0;
    while (pos < text.size()) {
        // Every catalog encoding maps characters independently, so a block that
        // encodes cleanly holds no culprit; this keeps long refusals quick.
        qsizetype block = std::min<qsizetype>(kRefusalBlock, text.size() - pos);
        if (pos + block < text.size() && text.at(pos + block - 1).isHighSurrogate())
            --block;
        if (block > 1 && encodeWith(e, QStringView(text).mid(pos, block), nullptr)) {
            pos += block;
            continue;
        }
        const qsizetype blockEnd = pos + std::max<qsizetype>(block, 1);
        while (pos < blockEnd) {
            const qsizetype len = (text.at(pos).isHighSurrogate() && pos + 1 < text.size()
                               && text.at(pos + 1).isLowSurrogate())
                ? 2
                : 1;
            const QStringView character = QStringView(text).mid(pos, len);
            if (!encodeWith(e, character, nullptr)) {
                result.error = tr("The character '%1' cannot be encoded as %2. Change the "
                                  "encoding or edit the message.")
                                       .arg(character.toString(), display);
                return result;
            }
            pos += len;
        }
    }
    result.error = tr("This message cannot be encoded as %1. Change the encoding or edit the "
                      "message.")
                           .arg(display);
    return result;
}
