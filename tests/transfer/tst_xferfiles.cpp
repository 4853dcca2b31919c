// Received names cleaned to stay inside their folder, and links at the names a received
// file would take. Whole received files, their times, partial files and folder errors
// are checked where transfers end (tst_porttransfer, tst_transferpeers, tst_transfercli).
#include "transfer/xferfileinfo.h"
#include "transfer/xferfilesink.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 Now = 1700000000;  // 2023-11-14

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class tst_XferFiles : public QObject
{
    Q_OBJECT
private slots:
    void sanitizedNames_data();
    void sanitizedNames();
    void linksAreNeitherFollowedNorReplaced();

private:
    QTemporaryDir m_dir;
};

void tst_XferFiles::sanitizedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const QString fallback = QStringLiteral("received_%1.bin")
                                 .arg(QDateTime::fromSecsSinceEpoch(Now).toString(QStringLiteral("yyyyMMdd-hhmmss")));
    QTest::newRow("parent folders") << QStringLiteral("../../x") << QStringLiteral("x");
    QTest::newRow("absolute path") << QStringLiteral("/etc/passwd") << QStringLiteral("passwd");
    QTest::newRow("drive and backslash") << QStringLiteral("C:\\x") << QStringLiteral("x");
    QTest::newRow("drive-relative") << QStringLiteral("C:x") << QStringLiteral("C");
    QTest::newRow("dot dot") << QStringLiteral("..") << fallback;
    QTest::newRow("empty") << QString() << fallback;
    QTest::newRow("NUL and controls") << QStringLiteral("a%1b\x01\x1f\x7f" "c.bin").arg(QChar(0)) << QStringLiteral("abc.bin");
    QTest::newRow("trailing dots and spaces") << QStringLiteral(" report.txt. . ") << QStringLiteral("report.txt");
    QTest::newRow("device name") << QStringLiteral("com1.tar.gz") << QStringLiteral("_com1.tar.gz");
    QTest::newRow("only removed characters") << QStringLiteral("<>|?*\"") << fallback;
    QTest::newRow("not a device") << QStringLiteral("COM10.bin") << QStringLiteral("COM10.bin");
    // 150 two-byte characters: 300 bytes, cut before the 128th character.
    QTest::newRow("300-byte UTF-8") << QString(150, QChar(0xe9)) << QString(127, QChar(0xe9));
}

void tst_XferFiles::sanitizedNames()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const QString clean = sanitizeFileName(name, Now);
    QCOMPARE(clean, expected);
    QVERIFY(clean.toUtf8().size() <= 255);
}

void tst_XferFiles::linksAreNeitherFollowedNorReplaced()
{
    const QString folder = m_dir.filePath(QStringLiteral("links"));
    QVERIFY(QDir().mkpath(folder));
    const QString outside = m_dir.filePath(QStringLiteral("outside.txt"));
    QFile target(outside);
    QVERIFY(target.open(QIODevice::WriteOnly) && target.write("precious") == 8);
    target.close();
    const QDir dir(folder);
    // One link at the final name, a dangling one at "(1)", one at the temporary name.
    QVERIFY(QFile::link(outside, dir.filePath(QStringLiteral("fw.bin"))));
    QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), dir.filePath(QStringLiteral("fw (1).bin"))));
    QVERIFY(QFile::link(outside, dir.filePath(QStringLiteral(".fw (2).bin.part"))));

    XferFileSink sink(folder, QString(), Now);
    QVERIFY2(sink.open({QStringLiteral("fw.bin"), -1, 0}), qPrintable(sink.errorText()));
    QVERIFY(sink.nameTaken());
    QVERIFY(sink.write("new data"));
    QVERIFY(sink.finish(-1));
    QCOMPARE(sink.finalPath(), dir.filePath(QStringLiteral("fw (2).bin")));
    QCOMPARE(readAll(sink.finalPath()), QByteArray("new data"));
    QVERIFY(!QFileInfo(sink.finalPath()).isSymLink());
    QCOMPARE(readAll(outside), QByteArray("precious"));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("fw.bin"))).isSymLink());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("fw (1).bin"))).isSymLink());
}

QTEST_APPLESS_MAIN(tst_XferFiles)
#include "tst_xferfiles.moc"
