#pragma once

#include "codec/framingprofile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringConverter>
#include <QStringList>

#include <memory>

class WireTextDecoder;

// Outcome of encoding text for the wire; nothing may be sent unless ok.
struct WireEncodeResult
{
    QByteArray bytes;
    QString error;
    bool ok = false;
};

// One row of the encoding catalog.
struct WireCodecEntry
{
    enum class Engine { BuiltIn, Named };

    const char *displayName;
    Engine engine;
    QStringConverter::Encoding builtIn;
    const char *converterName;
    FramingProfile framing;
    const char *aliases;
};

// The fixed catalog of wire encodings: name lookup, decoder factory and the
// encoder that refuses text the encoding cannot carry. Unknown names mean UTF-8.
class WireTextCodecRegistry
{
    Q_DECLARE_TR_FUNCTIONS(WireTextCodecRegistry)

public:
    static constexpr int catalogSize = 10;
    static const WireCodecEntry &entry(int row);

    static QStringList availableEncodings();
    static int lookup(const QString &name);
    static QString canonicalName(const QString &name);
    static QString defaultEncoding();
    static std::unique_ptr<WireTextDecoder> createDecoder(const QString &name);
    static WireEncodeResult encode(const QString &text, const QString &name);

    // Lower-cased with every space, '-' and '_' removed, so spellings meet.
    static QString normalizedName(const QString &name);
};
