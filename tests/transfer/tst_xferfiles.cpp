// The files behind a transfer: received names kept inside their folder, the temporary
// file and its rename, links that must not be followed, and the file being sent.
#include "transfer/xferfileinfo.h"
#include "transfer/xferfilesink.h"
#include "transfer/xferfilesource.h"

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
    void receivedFileStaysInItsFolder_data();
    void receivedFileStaysInItsFolder();
    void linksAreNeitherFollowedNorReplaced();
    void partialDataKeptOrDropped_data();
    void partialDataKeptOrDropped();
    void folderThatCannotBeMade();
    void sourceNoticesChanges();

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
    QTest::newRow("only removed characters") << QStringLiteral("<>|?*\"") << fallback;
    QTest::newRow("trailing dots and spaces") << QStringLiteral(" report.txt. . ") << QStringLiteral("report.txt");
    QTest::newRow("device name") << QStringLiteral("com1.tar.gz") << QStringLiteral("_com1.tar.gz");
    QTest::newRow("device name alone") << QStringLiteral("NUL") << QStringLiteral("_NUL");
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

void tst_XferFiles::receivedFileStaysInItsFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("mtime");
    QTest::addColumn<QString>("savedAs");
    QTest::addColumn<bool>("timeKept");
    QTest::newRow("folder parts, 2020") << QStringLiteral("../../escape.bin") << qint64(1600000000)
                                        << QStringLiteral("escape.bin") << true;
    QTest::newRow("absolute, 1970") << QStringLiteral("/tmp/abs.bin") << qint64(100) << QStringLiteral("abs.bin") << false;
    QTest::newRow("plain, 2100") << QStringLiteral("late.bin") << qint64(4102444800) << QStringLiteral("late.bin") << false;
}

void tst_XferFiles::receivedFileStaysInItsFolder()
{
    QFETCH(QString, name);
    QFETCH(qint64, mtime);
    QFETCH(QString, savedAs);
    QFETCH(bool, timeKept);
    const QString folder = m_dir.filePath(QStringLiteral("a/b/%1").arg(QString::fromLatin1(QTest::currentDataTag())));
    XferFileSink sink(folder, QStringLiteral("default.bin"), QDateTime::currentSecsSinceEpoch());
    QVERIFY2(sink.open({name, 5, mtime}), qPrintable(sink.errorText()));
    QCOMPARE(QFileInfo(sink.tempPath()).fileName(), QStringLiteral(".%1.part").arg(savedAs));
    QVERIFY(sink.write("12345678"));
    QVERIFY(sink.finish(5));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{savedAs});
    QCOMPARE(readAll(QDir(folder).filePath(savedAs)), QByteArray("12345"));
    QCOMPARE(sink.requestedName(), name == savedAs ? QString() : name);
    const qint64 written = QFileInfo(QDir(folder).filePath(savedAs)).lastModified().toSecsSinceEpoch();
    if (timeKept)
        QCOMPARE(written, mtime);
    else
        QVERIFY2(qAbs(written - QDateTime::currentSecsSinceEpoch()) < 60, qPrintable(QString::number(written)));
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

void tst_XferFiles::partialDataKeptOrDropped_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("kept") << true;
    QTest::newRow("dropped") << false;
}

void tst_XferFiles::partialDataKeptOrDropped()
{
    QFETCH(bool, keep);
    const QString folder = m_dir.filePath(QStringLiteral("partial-%1").arg(keep));
    {
        XferFileSink sink(folder, QStringLiteral("part.bin"), Now);
        QVERIFY(sink.open({}));
        QVERIFY(sink.write("half"));
        sink.abort(keep);
        QCOMPARE(sink.keptPath(), keep ? QDir(folder).filePath(QStringLiteral("part.bin.partial")) : QString());
    }
    const QStringList expected = keep ? QStringList{QStringLiteral("part.bin.partial")} : QStringList();
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), expected);
}

void tst_XferFiles::folderThatCannotBeMade()
{
    const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    XferFileSink sink(blocker + QStringLiteral("/sub"), QStringLiteral("x.bin"), Now);
    QVERIFY(!sink.open({}));
    QCOMPARE(sink.errorText(), QStringLiteral("The folder %1 does not exist.").arg(QDir::toNativeSeparators(blocker + QStringLiteral("/sub"))));
}

void tst_XferFiles::sourceNoticesChanges()
{
    XferFileSource source;
    QString error;
    QVERIFY(!source.open(m_dir.filePath(QStringLiteral("absent.bin")), &error));
    QVERIFY2(error.startsWith(QStringLiteral("Could not open absent.bin: ")), qPrintable(error));

    const QString path = m_dir.filePath(QStringLiteral("send.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("0123456789") == 10);
    file.close();
    QVERIFY(source.open(path, &error));
    QCOMPARE(source.read(4, 3), QByteArray("456"));
    QVERIFY(source.isUnchanged());
    QVERIFY(file.open(QIODevice::Append) && file.write("+") == 1);
    file.close();
    QVERIFY(!source.isUnchanged());
    QVERIFY(source.read(20, 4).isEmpty() && source.hasError());
}

QTEST_APPLESS_MAIN(tst_XferFiles)
#include "tst_xferfiles.moc"
