// Our engine against lrzsz over a socat pty pair, both directions, checked by sha256.
#include "tests/support/memoryxfer.h"
#include "tests/support/peers.h"
#include "tests/support/xferdriver.h"

#include "transfer/xmodemcodec.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 SentTime = 1600000000;   // 2020-09-13, carried in our YMODEM header
constexpr qint64 SourceTime = 1500000000; // 2017-07-14, the file sb sends

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char &c : data)
        c = char(rng.bounded(256));
    return data;
}

// The file arrived whole: as sent for YMODEM, padded with SUB to a whole block for XMODEM,
// which has no length.
bool sameFile(const QByteArray &got, const QByteArray &sent, bool ymodem)
{
    const auto sha = [](const QByteArray &d) { return QCryptographicHash::hash(d, QCryptographicHash::Sha256); };
    if (ymodem)
        return got.size() == sent.size() && sha(got) == sha(sent);
    return sha(got.left(sent.size())) == sha(sent) && got.size() % 128 == 0 && got.size() - sent.size() < 1024
        && got.mid(sent.size()).count(XmodemCodec::Sub) == got.size() - sent.size();
}

// A pty pair in dir with our end open on port.
bool openPair(LrzszPeer &peer, QSerialPort &port, const QString &dir)
{
    port.setPortName(peer.startPair(dir) ? peer.ttyA() : QString());
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setBaudRate(115200);
    port.clear();
    return true;
}

void addSizes(const char *label, XferProtocol protocol, const char *command)
{
    for (qint64 size : {0, 1, 1024, 1025, 1 << 20})
        QTest::addRow("%s/%lld", label, size) << protocol << QString::fromLatin1(command) << size;
}

} // namespace

class TestXmodemLrzsz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void ourSenderToLrzsz_data();
    void ourSenderToLrzsz();
    void lrzszSenderToOurs_data();
    void lrzszSenderToOurs();

};

void TestXmodemLrzsz::initTestCase()
{
    const QString missing = LrzszPeer::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs socat and lrzsz; missing: ") + missing));
}

void TestXmodemLrzsz::ourSenderToLrzsz_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<QString>("command");
    QTest::addColumn<qint64>("size");
    addSizes("XMODEM to rx", Xmodem, "rx -q out.bin");
    addSizes("XMODEM-CRC to rx -c", XmodemCrc, "rx -q -c out.bin");
    addSizes("XMODEM-1K to rx -c", Xmodem1k, "rx -q -c out.bin");
    addSizes("YMODEM to rb", Ymodem, "rb -q");
    // rb only asks with 'C', so a YMODEM-G sender follows it into plain YMODEM.
    QTest::addRow("YMODEM-G to rb falls back to YMODEM/1025") << YmodemG << QStringLiteral("rb -q") << qint64(1025);
}

void TestXmodemLrzsz::ourSenderToLrzsz()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(QString, command);
    QFETCH(qint64, size);
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && QDir(dir.path()).mkpath(QStringLiteral("out")));
    const QString outDir = dir.filePath(QStringLiteral("out"));
    const QByteArray data = randomBytes(size, quint32(size) + 17);
    MemorySource source(data);
    XmodemCodec codec;
    codec.init(false, protocol, 1024);
    codec.setSource(&source);
    LrzszPeer peer;
    QSerialPort port;
    XferDriver driver(&codec, &port);
    const XferFileInfo info{QStringLiteral("sent file.bin"), size, SentTime};
    QVERIFY2(openPair(peer, port, dir.path()), qPrintable(port.errorString()));
    driver.start(info);
    QProcess *rx = peer.run(peer.ttyB(), command, outDir);
    QVERIFY2(driver.waitForFinished(120000), "our sender did not finish");
    QVERIFY2(driver.result().done, qPrintable(driver.result().message));
    QVERIFY2(LrzszPeer::wait(rx, 30000), "the lrzsz receiver did not exit");
    QVERIFY2(rx->exitStatus() == QProcess::NormalExit && rx->exitCode() == 0, rx->readAllStandardError().constData());
    const bool ymodem = command.startsWith(QLatin1String("rb"));
    QFile out(QDir(outDir).filePath(ymodem ? info.name : QStringLiteral("out.bin")));
    QVERIFY2(out.open(QIODevice::ReadOnly), qPrintable(QDir(outDir).entryList(QDir::Files).join(u',')));
    QVERIFY2(sameFile(out.readAll(), data, ymodem), qPrintable(QStringLiteral("%1 bytes arrived").arg(out.size())));
    if (ymodem)
        QCOMPARE(QFileInfo(out).lastModified().toSecsSinceEpoch(), SentTime);
    QCOMPARE(codec.progress().bytesDone, size);
}

void TestXmodemLrzsz::lrzszSenderToOurs_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<QString>("command");
    QTest::addColumn<qint64>("size");
    addSizes("sx to XMODEM", Xmodem, "sx -q src.bin");
    addSizes("sx to XMODEM-CRC", XmodemCrc, "sx -q src.bin");
    addSizes("sx -k to XMODEM-1K", Xmodem1k, "sx -q -k src.bin");
    addSizes("sb to YMODEM", Ymodem, "sb -q src.bin");
    addSizes("sb -k to YMODEM", Ymodem, "sb -q -k src.bin");
    addSizes("sb -k to YMODEM-G", YmodemG, "sb -q -k src.bin");
}

void TestXmodemLrzsz::lrzszSenderToOurs()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(QString, command);
    QFETCH(qint64, size);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray data = randomBytes(size, quint32(size) + 29);
    QFile src(dir.filePath(QStringLiteral("src.bin")));
    QVERIFY(src.open(QIODevice::WriteOnly) && src.write(data) == data.size() && src.flush());
    QVERIFY(src.setFileTime(QDateTime::fromSecsSinceEpoch(SourceTime), QFileDevice::FileModificationTime));
    src.close();
    MemorySink sink;
    XmodemCodec codec;
    codec.init(true, protocol, 1024);
    codec.setSink(&sink);
    LrzszPeer peer;
    QSerialPort port;
    XferDriver driver(&codec, &port);
    QVERIFY2(openPair(peer, port, dir.path()), qPrintable(port.errorString()));
    QProcess *sx = peer.run(peer.ttyB(), command, dir.path());
    driver.start(XferFileInfo{QStringLiteral("default.bin"), -1, 0});
    QVERIFY2(driver.waitForFinished(120000), "our receiver did not finish");
    QVERIFY2(driver.result().done, qPrintable(driver.result().message));
    QVERIFY2(LrzszPeer::wait(sx, 30000), "the lrzsz sender did not exit");
    const QByteArray errors = sx->readAllStandardError();
    // In G mode sb exits as soon as its end-of-batch block is out; our ACK for it then
    // hits a closed pipe in the socat adapter, which socat reports as its own error.
    const bool lateAck = protocol == YmodemG && errors.contains("Broken pipe");
    QVERIFY2(sx->exitStatus() == QProcess::NormalExit && (sx->exitCode() == 0 || lateAck), errors.constData());
    const bool ymodem = protocol == Ymodem || protocol == YmodemG;
    QVERIFY(sink.finished);
    QVERIFY2(sameFile(sink.data, data, ymodem), qPrintable(QStringLiteral("%1 bytes arrived").arg(sink.data.size())));
    QCOMPARE(sink.info.name, ymodem ? QStringLiteral("src.bin") : QStringLiteral("default.bin"));
    if (ymodem) {
        QCOMPARE(sink.info.size, size);
        QCOMPARE(sink.info.mtime, SourceTime);
    }
    QCOMPARE(sink.writes > 0, size > 0);
}

QTEST_GUILESS_MAIN(TestXmodemLrzsz)
#include "tst_xmodemlrzsz.moc"
