#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

// One <message> of a Qt Linguist file, with the parts the checks need.
struct TsMessage
{
    QString context;
    QString source;
    QString comment;
    QString translation;
    QStringList numerusForms;
    QString type; // "", "unfinished", "vanished" or "obsolete"
    bool numerus = false;
};

QString committedTsPath()
{
    return QStringLiteral(QUILLON_SOURCE_DIR "/resources/language/zh_CN.ts");
}

QList<TsMessage> parseTs(QIODevice *device, QString *error)
{
    QList<TsMessage> messages;
    QXmlStreamReader xml(device);
    QString context;
    TsMessage current;
    bool inMessage = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("context")) {
                context.clear();
            } else if (name == QLatin1String("name") && !inMessage) {
                context = xml.readElementText();
            } else if (name == QLatin1String("message")) {
                current = TsMessage();
                current.context = context;
                current.numerus = xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
                inMessage = true;
            } else if (inMessage && name == QLatin1String("source")) {
                current.source = xml.readElementText();
            } else if (inMessage && name == QLatin1String("comment")) {
                current.comment = xml.readElementText();
            } else if (inMessage && name == QLatin1String("translation")) {
                current.type = xml.attributes().value(QLatin1String("type")).toString();
                if (!current.numerus)
                    current.translation = xml.readElementText();
            } else if (inMessage && name == QLatin1String("numerusform")) {
                current.numerusForms.append(xml.readElementText());
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            messages.append(current);
            inMessage = false;
        }
    }
    if (xml.hasError() && error)
        *error = xml.errorString() + QStringLiteral(" at line ") + QString::number(xml.lineNumber());
    return messages;
}

QList<TsMessage> parseTsFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    return parseTs(&file, error);
}

QString describe(const TsMessage &m)
{
    QString text = m.context + QStringLiteral(": \"") + m.source + QLatin1Char('"');
    if (!m.comment.isEmpty())
        text += QStringLiteral(" (") + m.comment + QLatin1Char(')');
    return text;
}

QStringList sortedMatches(const QRegularExpression &re, const QString &text, int group = 0)
{
    QStringList found;
    for (auto it = re.globalMatch(text); it.hasNext();)
        found.append(it.next().captured(group));
    found.sort();
    return found;
}

// Placeholders of arg(), %n of plural forms, and the log-name patterns such as %D,
// which the user types and so must appear unchanged.
QStringList placeholders(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("%(?:L?\\d{1,2}|[A-Za-z])"));
    return sortedMatches(re, text);
}

QStringList htmlTags(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("</?([A-Za-z][A-Za-z0-9]*)[^>]*>"));
    return sortedMatches(re, text, 1);
}

bool hasAccelerator(const QString &text)
{
    // "&&" is a literal ampersand; "& " is not a mnemonic either.
    static const QRegularExpression re(QStringLiteral("(?<!&)&(?!&)\\S"));
    return re.match(text).hasMatch();
}

// Why one message cannot ship as it is; empty when it is fine.
QStringList problemsOf(const TsMessage &m)
{
    QStringList problems;
    if (m.type == QLatin1String("unfinished"))
        problems.append(QStringLiteral("unfinished"));
    if (m.type == QLatin1String("vanished") || m.type == QLatin1String("obsolete"))
        return problems; // lrelease leaves these out; the update script drops them
    const QStringList forms = m.numerus ? m.numerusForms : QStringList{m.translation};
    if (forms.isEmpty())
        problems.append(QStringLiteral("no translation"));
    for (const QString &form : forms) {
        if (form.trimmed().isEmpty()) {
            problems.append(QStringLiteral("empty translation"));
            continue;
        }
        if (placeholders(form) != placeholders(m.source))
            problems.append(QStringLiteral("placeholders %1 instead of %2")
                                .arg(placeholders(form).join(QLatin1Char(' ')),
                                     placeholders(m.source).join(QLatin1Char(' '))));
        if (htmlTags(form) != htmlTags(m.source))
            problems.append(QStringLiteral("HTML tags differ"));
        if (hasAccelerator(form) != hasAccelerator(m.source))
            problems.append(QStringLiteral("accelerator (&) lost or added"));
        if (form.count(QLatin1Char('\n')) != m.source.count(QLatin1Char('\n')))
            problems.append(QStringLiteral("line breaks differ"));
    }
    return problems;
}

QString keyOf(const TsMessage &m)
{
    return m.context + QChar(0) + m.source + QChar(0) + m.comment;
}

} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void checkerFlags_data();
    void checkerFlags();
    void committedContext_data();
    void committedContext();
    void sourcesAllTranslated();
    void builtCatalogue_data();
    void builtCatalogue();
    void builtCatalogueMatchesCommittedFile();

private:
    QList<TsMessage> m_committed;
};

void tst_Translations::initTestCase()
{
    QString error;
    m_committed = parseTsFile(committedTsPath(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(committedTsPath() + QStringLiteral(": ") + error));
    QVERIFY2(!m_committed.isEmpty(), "the committed translation file holds no messages");
}

// The checker itself must catch what makes a translation unusable.
void tst_Translations::checkerFlags_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected"); // a fragment of the problem text, or empty

    QTest::newRow("fine") << QStringLiteral(
        "<message><source>Serial Port %1 OPEN SUCCESS</source><translation>串口 %1 打开成功</translation></message>")
                          << QString();
    QTest::newRow("unfinished with text") << QStringLiteral(
        "<message><source>Start</source><translation type=\"unfinished\">开始</translation></message>")
                                          << QStringLiteral("unfinished");
    QTest::newRow("empty") << QStringLiteral(
        "<message><source>Start</source><translation></translation></message>")
                           << QStringLiteral("empty translation");
    QTest::newRow("blank") << QStringLiteral(
        "<message><source>Start</source><translation>  </translation></message>")
                           << QStringLiteral("empty translation");
    QTest::newRow("placeholder dropped") << QStringLiteral(
        "<message><source>Port Number = %1</source><translation>端口数</translation></message>")
                                         << QStringLiteral("placeholders");
    QTest::newRow("localized placeholder plain") << QStringLiteral(
        "<message><source>Rx: %L1 Bytes</source><translation>接收：%1 字节</translation></message>")
                                                 << QStringLiteral("placeholders");
    QTest::newRow("log pattern dropped") << QStringLiteral(
        "<message><source>(must use %D in log file name)</source><translation>（日志文件名中必须使用日期）</translation></message>")
                                         << QStringLiteral("placeholders");
    QTest::newRow("placeholders swapped is fine") << QStringLiteral(
        "<message><source>Block %1 arrived, %2 expected</source><translation>期望 %2，收到 %1</translation></message>")
                                                  << QString();
    QTest::newRow("html tag lost") << QStringLiteral(
        "<message><source>&lt;b&gt;Quillon&lt;/b&gt; %1</source><translation>Quillon %1</translation></message>")
                                   << QStringLiteral("HTML");
    QTest::newRow("accelerator lost") << QStringLiteral(
        "<message><source>&amp;File</source><translation>文件</translation></message>")
                                      << QStringLiteral("accelerator");
    QTest::newRow("accelerator kept") << QStringLiteral(
        "<message><source>&amp;File</source><translation>文件(&amp;F)</translation></message>")
                                      << QString();
    QTest::newRow("line break lost") << QStringLiteral(
        "<message><source>Modified.\nSave?</source><translation>已修改。是否保存？</translation></message>")
                                     << QStringLiteral("line breaks");
    QTest::newRow("numerus form empty") << QStringLiteral(
        "<message numerus=\"yes\"><source>%n file(s)</source><translation><numerusform></numerusform></translation></message>")
                                        << QStringLiteral("empty translation");
    QTest::newRow("numerus fine") << QStringLiteral(
        "<message numerus=\"yes\"><source>%n file(s)</source><translation><numerusform>%n 个文件</numerusform></translation></message>")
                                  << QString();
}

void tst_Translations::checkerFlags()
{
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QByteArray document = QByteArrayLiteral("<TS version=\"2.1\" language=\"zh_CN\"><context><name>Ctx</name>")
        + message.toUtf8() + QByteArrayLiteral("</context></TS>");
    QBuffer buffer(&document);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QString error;
    const QList<TsMessage> parsed = parseTs(&buffer, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(parsed.size(), 1);
    QCOMPARE(parsed.first().context, QStringLiteral("Ctx"));
    const QString problems = problemsOf(parsed.first()).join(QStringLiteral("; "));
    if (expected.isEmpty())
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    else
        QVERIFY2(problems.contains(expected), qPrintable(QStringLiteral("got: ") + problems));
}

void tst_Translations::committedContext_data()
{
    QTest::addColumn<QString>("context");
    QStringList contexts;
    for (const TsMessage &m : std::as_const(m_committed)) {
        if (!contexts.contains(m.context))
            contexts.append(m.context);
    }
    for (const QString &context : std::as_const(contexts))
        QTest::newRow(qPrintable(context)) << context;
}

// Every message of the committed file is translated and keeps its placeholders,
// tags, accelerator and line breaks.
void tst_Translations::committedContext()
{
    QFETCH(QString, context);
    QStringList failures;
    for (const TsMessage &m : std::as_const(m_committed)) {
        if (m.context != context)
            continue;
        const QStringList problems = problemsOf(m);
        if (!problems.isEmpty())
            failures.append(describe(m) + QStringLiteral(" -> ") + problems.join(QStringLiteral(", ")));
    }
    QVERIFY2(failures.isEmpty(), qPrintable(QLatin1Char('\n') + failures.join(QLatin1Char('\n'))));
}

// Scans the sources the way scripts/update-translations.sh does; a text that is not
// in the committed file yet would show up in English.
void tst_Translations::sourcesAllTranslated()
{
    const QString lupdate = QStringLiteral(QUILLON_LUPDATE);
    if (lupdate.isEmpty() || !QFileInfo(lupdate).isExecutable())
        QSKIP("lupdate is not installed (qt6-l10n-tools); cannot scan the sources");
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sh"));
    if (shell.isEmpty())
        QSKIP("no POSIX shell to run scripts/update-translations.sh");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString scanned = dir.filePath(QStringLiteral("scanned.ts"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LUPDATE"), lupdate);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(shell, {QStringLiteral(QUILLON_SOURCE_DIR "/scripts/update-translations.sh"), scanned});
    QVERIFY2(process.waitForFinished(90000), "lupdate did not finish in time");
    const QString output = QString::fromLocal8Bit(process.readAll());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, qPrintable(output));

    QString error;
    const QList<TsMessage> fresh = parseTsFile(scanned, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(!fresh.isEmpty(), qPrintable(QStringLiteral("lupdate found no texts:\n") + output));

    QSet<QString> committed;
    for (const TsMessage &m : std::as_const(m_committed)) {
        if (m.type != QLatin1String("vanished") && m.type != QLatin1String("obsolete"))
            committed.insert(keyOf(m));
    }
    QStringList missing;
    for (const TsMessage &m : fresh) {
        if (!committed.contains(keyOf(m)))
            missing.append(describe(m));
    }
    QVERIFY2(missing.isEmpty(),
             qPrintable(QStringLiteral("texts without a zh_CN translation (run scripts/update-translations.sh "
                                       "and translate them in resources/language/zh_CN.ts):\n")
                        + missing.join(QLatin1Char('\n'))));
}

void tst_Translations::builtCatalogue_data()
{
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QStringList>("args");

    QTest::newRow("main-window action") << QByteArrayLiteral("MainWindow") << QByteArrayLiteral("Log Recording")
                                        << QStringList();
    QTest::newRow("menu with accelerator") << QByteArrayLiteral("MainWindow") << QByteArrayLiteral("&File")
                                           << QStringList();
    QTest::newRow("status with placeholder")
        << QByteArrayLiteral("ConnectionController") << QByteArrayLiteral("Serial Port %1 OPEN SUCCESS")
        << QStringList{QStringLiteral("/dev/ttyUSB7")};
    QTest::newRow("status with two placeholders")
        << QByteArrayLiteral("TcpServerTransport") << QByteArrayLiteral("Listening on %1:%2")
        << QStringList{QStringLiteral("192.0.2.9"), QStringLiteral("40321")};
    QTest::newRow("form text") << QByteArrayLiteral("SetConfigFilePathDialog")
                               << QByteArrayLiteral("Please specify a folder below.") << QStringList();
}

// The catalogue start-up loads really is in the resources and carries the translations.
void tst_Translations::builtCatalogue()
{
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QFETCH(QStringList, args);

    QTranslator translator;
    QVERIFY2(translator.load(QStringLiteral(":/language/language/zh_CN")),
             "the zh_CN catalogue is not in the resources");
    const QString translated = translator.translate(context.constData(), source.constData());
    const QString original = QString::fromUtf8(source);
    QVERIFY2(!translated.isEmpty(), source.constData());
    QVERIFY2(translated != original, qPrintable(translated));
    QCOMPARE(placeholders(translated), placeholders(original));
    QCOMPARE(hasAccelerator(translated), hasAccelerator(original));

    QString filled = translated;
    for (const QString &arg : std::as_const(args))
        filled = filled.arg(arg);
    for (const QString &arg : std::as_const(args))
        QVERIFY2(filled.contains(arg), qPrintable(filled));
    QVERIFY2(!filled.contains(QLatin1Char('%')), qPrintable(filled));
}

// A stale build of the catalogue would ship texts the file no longer has.
void tst_Translations::builtCatalogueMatchesCommittedFile()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/language/language/zh_CN")));
    QStringList differing;
    int checked = 0;
    for (const TsMessage &m : std::as_const(m_committed)) {
        if (m.numerus || !m.type.isEmpty())
            continue;
        const QString got = translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData(),
                                                 m.comment.isEmpty() ? nullptr : m.comment.toUtf8().constData());
        ++checked;
        if (got != m.translation)
            differing.append(describe(m) + QStringLiteral(" -> \"") + got + QLatin1Char('"'));
    }
    QVERIFY(checked > 0);
    QVERIFY2(differing.isEmpty(), qPrintable(QLatin1Char('\n') + differing.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(tst_Translations)
#include "tst_translations.moc"
