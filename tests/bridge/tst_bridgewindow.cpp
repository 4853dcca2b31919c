#include "app/mainwindow.h"
#include "bridge/bridgemanager.h"
#include "settings/formatsetting.h"
#include "terminal/serialportwidget.h"

#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// Bridges in the main window: documents, the preferences across a restart, the badge.
class tst_BridgeWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void documentOpensAndSavesIdentical();
    void bridgesSurviveARestart();

private:
    static FormatSetting named(const QString &port)
    {
        FormatSetting s = FormatSetting::builtInDefaults();
        s.PortName = port;
        return s;
    }
    static BridgeConfig bridge(int a, int b, int direction)
    {
        BridgeConfig c;
        c.PortA = a;
        c.PortB = b;
        c.Direction = direction;
        c.AutoOpenPeer = false;
        return c;
    }
    static QByteArray contents(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir m_dir;
};

void tst_BridgeWindow::initTestCase()
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("config")));
    QCoreApplication::setOrganizationName(QStringLiteral("VORTANE"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
}

void tst_BridgeWindow::documentOpensAndSavesIdentical()
{
    QSettings().clear();
    MainWindow first;
    first.pane(0)->applySettings(named(QStringLiteral("ttyS0")));
    first.addPane(named(QStringLiteral("ttyS1")));
    first.addPane(named(QStringLiteral("ttyS2")));
    BridgeConfig gateway = bridge(0, 1, BridgeConfig::BothWays);
    gateway.Name = QStringLiteral("gateway");
    gateway.FramingDelimiterHex = "\r\n";
    gateway.AllowedPeers = {QStringLiteral("192.168.0.0/16")};
    BridgeConfig later = bridge(2, 5, BridgeConfig::BToA); // waits for a sixth pane
    first.bridges()->setConfigurations({gateway, bridge(2, 1, BridgeConfig::AToB), later});
    QCOMPARE(first.pane(1)->bridgeBadge()->text(), QStringLiteral("Bridged to 1: ttyS0, 3: ttyS2"));
    QVERIFY(first.pane(1)->bridgeBadge()->isVisibleTo(first.pane(1)));
    const QString saved = m_dir.filePath(QStringLiteral("first.qln"));
    QVERIFY(first.writeFile(saved, false));

    MainWindow second;
    QVERIFY(second.openDocument(saved));
    QCOMPARE(second.bridges()->configurations(), first.bridges()->configurations());
    QCOMPARE(second.pane(0)->bridgeBadge()->text(), QStringLiteral("Bridged to 2: ttyS1"));
    const QString again = m_dir.filePath(QStringLiteral("again.qln"));
    QVERIFY(second.writeFile(again, false));
    QCOMPARE(contents(again), contents(saved));
}

void tst_BridgeWindow::bridgesSurviveARestart()
{
    QSettings().clear();
    const BridgeConfig kept = bridge(0, 1, BridgeConfig::AToB);
    {
        MainWindow before;
        before.show();
        before.addPane(named(QStringLiteral("ttyUSB0")));
        QVERIFY(before.bridges()->add(kept));
        before.close();
    }
    MainWindow after; // starts with one pane
    QCOMPARE(after.bridges()->configurations(), QList<BridgeConfig>{kept});
    QCOMPARE(after.bridges()->stateText(0), QStringLiteral("Waiting for port 2"));
    QVERIFY(after.pane(0)->bridgeBadge()->text().isEmpty());
    after.addPane(named(QStringLiteral("ttyUSB0")));
    QVERIFY(after.bridges()->link(0) && after.bridges()->link(0)->isRunning());
    QCOMPARE(after.pane(0)->bridgeBadge()->text(), QStringLiteral("Bridged to 2: ttyUSB0"));
}

QTEST_MAIN(tst_BridgeWindow)
#include "tst_bridgewindow.moc"
