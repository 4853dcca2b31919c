#include "connection/connectioncontroller.h"
#include "settings/formatsetting.h"
#include "tests/support/peers.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

// A serial port whose group keeps the user out: the open failure says which group to
// join and that a new login is needed. The open runs as "nobody" through runuser.
class tst_SerialPermission : public QObject
{
    Q_OBJECT
private slots:
    void hintNamesTheDevicesGroup();
};

void tst_SerialPermission::hintNamesTheDevicesGroup()
{
    const QString runuser = TestPeers::findTool(QStringLiteral("runuser"));
    if (::geteuid() != 0 || runuser.isEmpty() || !PtyPair::available() || !::getgrnam("dialout"))
        QSKIP("needs root, runuser, socat and a dialout group to hand a device to another user");
    PtyPair pty;
    QVERIFY(pty.start());
    const QByteArray device = QFile::symLinkTarget(pty.a()).toLocal8Bit();
    QVERIFY(device.startsWith("/dev/pts/"));
    QCOMPARE(::chown(device.constData(), 0, ::getgrnam("dialout")->gr_gid), 0);
    QCOMPARE(::chmod(device.constData(), 0660), 0);

    // A copy of this program where "nobody" may run it.
    QTemporaryDir dir(QStringLiteral("/tmp/quillon-permission-XXXXXX"));
    QVERIFY(dir.isValid());
    const QString self = dir.filePath(QStringLiteral("opener"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), self));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                                  | QFile::ExeOther));
    QProcess opener;
    opener.start(runuser, {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), self,
                           QStringLiteral("--open"), QString::fromLocal8Bit(device)});
    QVERIFY(opener.waitForFinished(15000));
    const QString said = QString::fromUtf8(opener.readAllStandardOutput());
    QVERIFY2(said.contains(QStringLiteral("OPEN FAILED")), qPrintable(said + QString::fromUtf8(opener.readAllStandardError())));
    QVERIFY2(said.contains(QStringLiteral("group \"dialout\"")) && said.contains(QStringLiteral("usermod -aG dialout nobody"))
                 && said.contains(QStringLiteral("log in again")),
             qPrintable(said));
}

int main(int argc, char *argv[])
{
    // As "nobody": open the device and print what the controller says.
    if (argc == 3 && qstrcmp(argv[1], "--open") == 0) {
        QCoreApplication app(argc, argv);
        ConnectionController controller;
        QObject::connect(&controller, &ConnectionController::statusMessage, [](const QString &text) {
            std::printf("%s\n", qPrintable(text));
        });
        FormatSetting s;
        s.PortName = QString::fromLocal8Bit(argv[2]);
        return controller.openSerialPort(s, QString(), s.PortName, false) ? 1 : 0;
    }
    QCoreApplication app(argc, argv);
    tst_SerialPermission test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serialpermission.moc"
