#include "app/mainwindow.h"
#include "settings/formatsetting.h"
#include "terminal/serialportwidget.h"
#include "tools/modbusbuilderdialog.h"
#include "tools/toolbox.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

// The tool windows as the main window opens them.
class tst_ToolWindows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { m_window.reset(); }
    void menuMakesRaisesAndDeletes_data();
    void menuMakesRaisesAndDeletes();
    void insertGoesToTheLastFocusedPane();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<MainWindow> m_window;
};

void tst_ToolWindows::initTestCase()
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("config")));
    QCoreApplication::setOrganizationName(QStringLiteral("VORTANE"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
}

void tst_ToolWindows::init()
{
    QSettings().clear();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
}

void tst_ToolWindows::menuMakesRaisesAndDeletes_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("title");
    QTest::newRow("toolbox") << "acToolCalc" << "Toolbox";
    QTest::newRow("ascii chart") << "acToolsAscii" << "ASCII Code Chart";
    QTest::newRow("modbus builder") << "acToolsModbus" << "Modbus Request Builder";
}

void tst_ToolWindows::menuMakesRaisesAndDeletes()
{
    QFETCH(QString, action);
    QFETCH(QString, title);
    QAction *open = m_window->findChild<QAction *>(action);
    open->trigger();
    const QList<QDialog *> made = m_window->findChildren<QDialog *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(made.size(), 1);
    QPointer<QDialog> window = made.first();
    QCOMPARE(window->windowTitle(), title);
    window->showMinimized();
    open->trigger();
    QCOMPARE(m_window->findChildren<QDialog *>(Qt::FindDirectChildrenOnly), made);
    QVERIFY(window->isVisible() && !window->isMinimized());
    QVERIFY(window->close());
    QTRY_VERIFY(window.isNull());
    open->trigger();
    QCOMPARE(m_window->findChildren<QDialog *>(Qt::FindDirectChildrenOnly).size(), 1);
}

void tst_ToolWindows::insertGoesToTheLastFocusedPane()
{
    FormatSetting settings = m_window->pane(0)->settings();
    settings.SendChecksum = 4;
    SerialPortWidget *pane = m_window->addPane(settings);
    m_window->arrangePanes();
    m_window->activateWindow();
    pane->findChild<QPlainTextEdit *>(QStringLiteral("textEdit"))->setFocus();
    QTRY_VERIFY(pane->isAncestorOf(QApplication::focusWidget()));
    const auto note = [pane] { return pane->findChild<QStatusBar *>(QStringLiteral("statusbar"))->currentMessage(); };

    m_window->findChild<QAction *>(QStringLiteral("acToolsModbus"))->trigger();
    auto *builder = m_window->findChild<ModbusBuilderDialog *>();
    QTRY_VERIFY(builder->isActiveWindow());
    builder->findChild<QPushButton *>(QStringLiteral("insertButton"))->click();
    QCOMPARE(pane->sendText(), QStringLiteral("01 03 00 00 00 01 84 0A"));
    QVERIFY(pane->findChild<QRadioButton *>(QStringLiteral("hexSendRadio"))->isChecked());
    QCOMPARE(note(), QStringLiteral("Note: this port appends a checksum on send; the Modbus frame already includes one."));

    m_window->findChild<QAction *>(QStringLiteral("acToolCalc"))->trigger();
    auto *toolbox = m_window->findChild<ToolBox *>();
    QTRY_VERIFY(toolbox->isActiveWindow());
    toolbox->findChild<QPlainTextEdit *>(QStringLiteral("inputCrc"))->setPlainText(QStringLiteral("AB"));
    toolbox->findChild<QPushButton *>(QStringLiteral("calculateCRC"))->click();
    toolbox->findChild<QPushButton *>(QStringLiteral("btnInsertFrame"))->click();
    QCOMPARE(pane->sendText(), QStringLiteral("41 42 ") + toolbox->findChild<QLineEdit *>(QStringLiteral("leWireBytes"))->text());
    QCOMPARE(note(), QStringLiteral("Note: this port appends a checksum on send; the inserted frame already includes its CRC."));
    QCOMPARE(m_window->pane(0)->sendText(), QString());
}

QTEST_MAIN(tst_ToolWindows)
#include "tst_toolwindows.moc"
