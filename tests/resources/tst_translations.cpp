#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

// One <message> of a Qt Linguist file, with the parts the checks need.
struct TsMessage
{
    QString context;
    QString source;
    QString comment;
    QStringList forms; // the translation, or its plural forms
    QString type;      // "", "unfinished", "vanished" or "obsolete"
    bool numerus = false;
};

QList<TsMessage> parseTs(QIODevice *device, QString *error)
{
    QList<TsMessage> messages;
    QXmlStreamReader xml(device);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            TsMessage m{context, {}, {}, {}, {}, xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes")};
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("source")) {
                    m.source = xml.readElementText();
                } else if (xml.name() == QLatin1String("comment")) {
                    m.comment = xml.readElementText();
                } else if (xml.name() == QLatin1String("translation")) {
                    m.type = xml.attributes().value(QLatin1String("type")).toString();
                    if (!m.numerus)
                        m.forms << xml.readElementText();
                    while (m.numerus && xml.readNextStartElement())
                        m.forms << xml.readElementText();
                } else {
                    xml.skipCurrentElement();
                }
            }
            messages.append(m);
        }
    }
    if (xml.hasError())
        *error = xml.errorString() + QStringLiteral(" at line ") + QString::number(xml.lineNumber());
    return messages;
}

QStringList sortedMatches(const QString &pattern, const QString &text)
{
    QStringList found;
    for (auto it = QRegularExpression(pattern).globalMatch(text); it.hasNext();)
        found.append(it.next().captured(1));
    found.sort();
    return found;
}

// What a translation must keep of its source, as the first group of a pattern.
const std::pair<QString, QString> kept[] = {
    {QStringLiteral("placeholders differ"), QStringLiteral("(%(?:L?\\d{1,2}|[A-Za-z]))")},
    {QStringLiteral("HTML tags differ"), QStringLiteral("</?([A-Za-z][A-Za-z0-9]*)[^>]*>")},
    {QStringLiteral("accelerator (&) lost or added"), QStringLiteral("(?s)^(?=.*(?<!&)(&)(?!&)\\S)")},
    {QStringLiteral("line breaks differ"), QStringLiteral("(\\n)")},
};

// Why one message cannot ship as it is; empty when it is fine. Placeholders cover
// arg(), %n of plural forms and the log-name patterns such as %D, which the user
// types and so must appear unchanged; "&&" is a literal ampersand, not a mnemonic.
QStringList problemsOf(const TsMessage &m)
{
    QStringList problems;
    if (m.type == QLatin1String("unfinished"))
        problems.append(QStringLiteral("unfinished"));
    if (m.type == QLatin1String("vanished") || m.type == QLatin1String("obsolete"))
        return problems; // lrelease leaves these out; the update script drops them
    if (m.forms.isEmpty())
        problems.append(QStringLiteral("no translation"));
    for (const QString &form : m.forms) {
        if (form.trimmed().isEmpty())
            problems.append(QStringLiteral("empty translation"));
        for (const auto &[problem, pattern] : kept) {
            if (sortedMatches(pattern, form) != sortedMatches(pattern, m.source))
                problems.append(problem);
        }
    }
    return problems;
}

} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT
private slots:
    // Every text of the sources is in the committed file, translated, keeping its
    // placeholders, tags, accelerator and line breaks: the file is brought up to date
    // the way scripts/update-translations.sh does it, on a copy, where a new text comes
    // in unfinished. The catalogue start-up loads is in the resources; a stale build of
    // it would ship texts the file no longer has.
    void everyTextTranslatedAndBuilt()
    {
        const QString committed = QStringLiteral(QUILLON_SOURCE_DIR "/resources/language/zh_CN.ts");
        const QString lupdate = QStringLiteral(QUILLON_LUPDATE);
        QTemporaryDir dir;
        const QString updated = dir.filePath(QStringLiteral("zh_CN.ts"));
        QVERIFY(QFile::copy(committed, updated));
        if (lupdate.isEmpty() || !QFileInfo(lupdate).isExecutable()) {
            qWarning("lupdate is not installed (qt6-l10n-tools); the sources are not scanned");
        } else {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LUPDATE"), lupdate);
            process.setProcessEnvironment(env);
            process.setProcessChannelMode(QProcess::MergedChannels);
            process.start(QStringLiteral("sh"), {QStringLiteral(QUILLON_SOURCE_DIR "/scripts/update-translations.sh"), updated});
            QVERIFY2(process.waitForFinished(90000), "lupdate did not finish in time");
            QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, process.readAll().constData());
        }
        QFile file(updated);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString error;
        const QList<TsMessage> messages = parseTs(&file, &error);
        QVERIFY2(error.isEmpty() && !messages.isEmpty(), qPrintable(committed + QStringLiteral(": ") + error));

        // The checks are not blind: each finds what it compares in the real texts, and the
        // reader sees a translation marked unfinished.
        for (const auto &[problem, pattern] : kept) {
            QVERIFY2(std::any_of(messages.cbegin(), messages.cend(),
                                 [&](const TsMessage &m) { return !sortedMatches(pattern, m.source).isEmpty(); }),
                     qPrintable(problem));
        }
        QByteArray unfinished = "<TS><context><name>C</name><message><source>Start</source>"
                                "<translation type=\"unfinished\">Start</translation></message></context></TS>";
        QBuffer buffer(&unfinished);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(problemsOf(parseTs(&buffer, &error).value(0)), QStringList{QStringLiteral("unfinished")});

        QTranslator translator;
        QVERIFY2(translator.load(QStringLiteral(":/language/language/zh_CN")), "the zh_CN catalogue is not in the resources");
        QStringList failures;
        for (const TsMessage &m : messages) {
            QStringList problems = problemsOf(m);
            const QString built = translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData(),
                                                       m.comment.isEmpty() ? nullptr : m.comment.toUtf8().constData());
            if (!m.numerus && m.type.isEmpty() && built != m.forms.value(0))
                problems.append(QStringLiteral("built as \"%1\"").arg(built));
            if (!problems.isEmpty())
                failures.append(QStringLiteral("%1: \"%2\" %3 -> %4").arg(m.context, m.source, m.comment, problems.join(u',')));
        }
        QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("(run scripts/update-translations.sh and translate "
                                                               "resources/language/zh_CN.ts)\n") + failures.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(tst_Translations)
#include "tst_translations.moc"
