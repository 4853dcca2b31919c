#include "app/mainwindow.h"
#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "settings/dialogs/multiportsettingdlg.h"
#include "settings/dialogs/newconnection.h"
#include "settings/recentfilesmodel.h"
#include "settings/settingsdocument.h"
#include "terminal/serialportwidget.h"
#include "tests/settings/settingstest.h"
#include "tests/support/peers.h"
#include "tests/support/settingsfolder.h"
#include "transfer/xferprotocol.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

// Answers the window's questions without modal dialogs.
class ScriptedMainWindow : public MainWindow
{
public:
    QString saveName;
    QMessageBox::StandardButton saveChanges = QMessageBox::No;
    bool acceptDialogs = true;
    std::function<void(QDialog &)> beforeAccept;

protected:
    QMessageBox::StandardButton askSaveChanges() override { return saveChanges; }
    QString askSaveFileName() override { return saveName; }
    void showWarning(const QString &, const QString &text) override { qWarning("%s", qPrintable(text)); }
    void showInformation(const QString &, const QString &) override {}
    int execDialog(QDialog &dialog) override
    {
        if (beforeAccept)
            beforeAccept(dialog);
        return acceptDialogs ? QDialog::Accepted : QDialog::Rejected;
    }
};

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        useSettingsFolder(m_dir.filePath(QStringLiteral("config")));
    }

    void init()
    {
        QSettings().clear();
        m_window = std::make_unique<ScriptedMainWindow>();
        m_window->show();
    }

    void gridRows_data()
    {
        QTest::addColumn<int>("panes");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("perRow");
        QTest::newRow("five in grid") << 5 << "acViewGrid" << 2;
        QTest::newRow("three vertical") << 3 << "acViewVertical" << 1;
        QTest::newRow("four horizontal") << 4 << "acViewHorizontal" << 4;
    }

    void gridRows()
    {
        QFETCH(int, panes);
        QFETCH(QString, layout);
        QFETCH(int, perRow);
        addPanes(panes - 1);
        child<QAction>(m_window.get(), layout)->trigger();
        // Pane i stands in row i / perRow at position i % perRow; rows left over are hidden.
        auto *outer = child<QSplitter>(m_window.get(), "portSplitter");
        for (int i = 0; i < panes; ++i) {
            auto *row = qobject_cast<QSplitter *>(m_window->pane(i)->parentWidget());
            QVERIFY(row);
            QCOMPARE(outer->indexOf(row), i / perRow);
            QCOMPARE(row->indexOf(m_window->pane(i)), i % perRow);
        }
        int shown = 0;
        for (int r = 0; r < outer->count(); ++r)
            shown += outer->widget(r)->isHidden() ? 0 : 1;
        QCOMPARE(shown, (panes + perRow - 1) / perRow);
    }

    void paneCountBounds()
    {
        // New Connection with the serial choice adds a pane through its settings dialog.
        QTimer::singleShot(0, m_window.get(), [] {
            if (auto *dialog = qobject_cast<NewConnection *>(QApplication::activeModalWidget())) {
                child<QComboBox>(dialog, "connectionTypeBox")->setCurrentIndex(NewConnection::SerialPortChoice);
                dialog->accept();
            }
        });
        trigger("actionNew_Connection");
        QCOMPARE(m_window->paneCount(), 2);
        // At least one pane and at most sixteen; a refused command says so in the first pane.
        m_window->acceptDialogs = false;
        addPanes(1); // the new pane's settings dialog cancelled
        m_window->acceptDialogs = true;
        trigger("acEditRemove");
        trigger("acEditRemove");
        QCOMPARE(m_window->paneCount(), 1);
        QVERIFY(!note(0).isEmpty());
        addPanes(20);
        QCOMPARE(m_window->paneCount(), 16);
        QVERIFY(note(0).contains(QLatin1String("16")));
        trigger("acEditRemove");
        QCOMPARE(m_window->paneCount(), 15);
    }

    void saveChangesPrompt_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("typed"); // the name given to the save dialog, empty to cancel it
        QTest::addColumn<QString>("saved");
        QTest::newRow("cancel keeps the document") << int(QMessageBox::Cancel) << "" << "";
        QTest::newRow("no discards it") << int(QMessageBox::No) << "" << "";
        QTest::newRow("yes saves, .qln appended") << int(QMessageBox::Yes) << "session" << "session.qln";
        QTest::newRow("yes keeps another suffix") << int(QMessageBox::Yes) << "other.ini" << "other.ini";
        QTest::newRow("yes, save dialog cancelled") << int(QMessageBox::Yes) << "" << "";
    }

    void saveChangesPrompt()
    {
        QFETCH(int, answer);
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        addPanes(1); // a change to the untitled document
        QVERIFY(m_window->isWindowModified());
        m_window->saveChanges = QMessageBox::StandardButton(answer);
        m_window->saveName = typed.isEmpty() ? QString() : m_dir.filePath(typed);
        trigger("acFileNew");
        const bool discarded = answer == QMessageBox::No || !saved.isEmpty();
        QCOMPARE(m_window->paneCount(), discarded ? 1 : 2);
        QCOMPARE(m_window->isWindowModified(), !discarded);
        SettingsDocument doc;
        QCOMPARE(readSettingFile(m_dir.filePath(saved), doc), !saved.isEmpty());
        QCOMPARE(doc.panes.size(), saved.isEmpty() ? 0 : 2);
    }

    void documentsAndRestart()
    {
        // Six panes of different modes in a grid, saved under several names: the recent
        // files list the latest save first, and a document saved again moves up.
        const int modes[] = {SerialPort, TcpServer, TcpClient, UdpServer, UdpGroup, RemoteSerial};
        addPanes(5);
        trigger("acViewGrid");
        for (int i = 0; i < 6; ++i)
            m_window->pane(i)->applySettings(unusualPane(modes[i], i + 1));
        trigger("acAutoReconnect");
        const QString a = m_dir.filePath(QStringLiteral("a.qln")), b = m_dir.filePath(QStringLiteral("R&D.qln"));
        const QString c = m_dir.filePath(QStringLiteral("c.qln"));
        for (const QString &path : {a, b, c, a})
            QVERIFY(m_window->saveDocument(path));
        QCOMPARE(m_window->recentFiles()->files(), (QStringList{a, c, b}));
        m_window->close();
        QVERIFY(QFile::remove(c));

        // What the first pane and the window held at exit seeds the next start; a recent
        // document deleted in between is gone from the menu.
        m_window = std::make_unique<ScriptedMainWindow>();
        QCOMPARE(m_window->pane(0)->settings().BaudRate, unusualPane(SerialPort, 1).BaudRate);
        QCOMPARE(m_window->pane(0)->settings().SendChecksum, unusualPane(SerialPort, 1).SendChecksum);
        QVERIFY(m_window->pane(0)->session()->autoReconnect());
        QCOMPARE(m_window->recentFiles()->files(), (QStringList{a, b}));
        // A '&' in a name shows instead of making a mnemonic; the entry opens the
        // document as it was saved.
        QAction *second = m_window->recentFiles()->actions().at(1);
        QCOMPARE(second->text(), QStringLiteral("&2 R&&D.qln"));
        second->trigger();
        QCOMPARE(m_window->currentFile(), b);
        QCOMPARE(m_window->paneCount(), 6);
        QCOMPARE(m_window->panesPerRow(), 2);
        for (int i = 0; i < 6; ++i)
            QVERIFY2(m_window->pane(i)->settings().sameStoredValues(unusualPane(modes[i], i + 1)), qPrintable(QString::number(i)));
        QVERIFY(!m_window->openDocument(m_dir.filePath(QStringLiteral("missing.qln"))));
        QCOMPARE(m_window->paneCount(), 6);
    }

    void commandsReachThePanes()
    {
        addPanes(1);
        FormatSetting s = m_window->pane(1)->settings();
        s.SendChecksum = 4;
        s.LogSaveFlag = true;
        m_window->pane(1)->applySettings(s);
        // A frame from a tool window, with nothing focused inside a pane: the first pane
        // gets it, without a note.
        QCOMPARE(m_window->insertFrame(QStringLiteral("01 03"), MainWindow::FrameSource::Toolbox), m_window->pane(0));
        QCOMPARE(m_window->pane(0)->sendText(), QStringLiteral("01 03"));
        QVERIFY(note(0).isEmpty());
        // The focused pane appends a checksum itself: the frame goes in with a note.
        m_window->activateWindow();
        child<QPlainTextEdit>(m_window->pane(1), "textEdit")->setFocus();
        QTRY_VERIFY(m_window->pane(1)->isAncestorOf(QApplication::focusWidget()));
        QCOMPARE(m_window->insertFrame(QStringLiteral("01 06 00 01"), MainWindow::FrameSource::ModbusBuilder),
                 m_window->pane(1));
        QCOMPARE(m_window->pane(1)->sendText(), QStringLiteral("01 06 00 01"));
        QVERIFY(!note(1).isEmpty());

        // Recording follows the first pane: it does not record, so all start, then all stop.
        const auto recording = [&] {
            return QList<bool>{m_window->pane(0)->settings().LogSaveFlag, m_window->pane(1)->settings().LogSaveFlag};
        };
        trigger("acFileRecordDataLog");
        QCOMPARE(recording(), (QList<bool>{true, true}));
        trigger("acFileRecordDataLog");
        QCOMPARE(recording(), (QList<bool>{false, false}));

        // What the options dialog ends with goes to every pane.
        m_window->beforeAccept = [](QDialog &dialog) {
            auto &options = static_cast<MultiPortSettingDlg &>(dialog);
            QCOMPARE(options.panelCount(), 2);
            for (int i = 0; i < 2; ++i)
                options.setSettings(i, unusualPane(TcpClient, i + 1));
        };
        m_window->setWindowModified(false);
        trigger("acToolsSetting");
        for (int i = 0; i < 2; ++i)
            QVERIFY(m_window->pane(i)->settings().sameStoredValues(unusualPane(TcpClient, i + 1)));
        QVERIFY(m_window->isWindowModified());
    }

    void twoPanesTalkThroughTheGui()
    {
        const quint16 port = TestPeers::freePort();
        addPanes(1);
        SerialPortWidget *serverPane = m_window->pane(0), *clientPane = m_window->pane(1);
        FormatSetting server = serverPane->settings();
        server.ConnMode = TcpServer;
        server.LastTargetPort = port;
        serverPane->applySettings(server);
        FormatSetting client = clientPane->settings();
        client.ConnMode = TcpClient;
        client.LastTargetHost = {QStringLiteral("127.0.0.1")};
        client.LastTargetPort = port;
        client.TxLineEndingMode = 3;
        client.TxAutoFeedLine = true;
        clientPane->applySettings(client);

        trigger("acMonStart");
        QTRY_VERIFY_WITH_TIMEOUT(clientPane->session()->controller()->isConnectionOpen(TcpClient), 5000);
        auto type = [](SerialPortWidget *pane, const QString &text) {
            child<QPlainTextEdit>(pane, "textEdit")->setPlainText(text);
            QTest::mouseClick(child<QPushButton>(pane, "sendButton"), Qt::LeftButton);
        };
        type(clientPane, QStringLiteral("hello server"));
        QTRY_COMPARE_WITH_TIMEOUT(serverPane->receiveText(), QStringLiteral("hello server\n"), 5000);
        type(serverPane, QStringLiteral("hello client"));
        QTRY_COMPARE_WITH_TIMEOUT(clientPane->receiveText(), QStringLiteral("hello client"), 5000);
        QCOMPARE(clientPane->session()->txByteCount(), quint64(14)); // CR LF appended
        QCOMPARE(serverPane->session()->rxByteCount(), quint64(14));

        // Start after Pause goes on with what is shown; Start after Stop begins afresh.
        trigger("acEditPause");
        trigger("acMonStart");
        QCOMPARE(serverPane->receiveText(), QStringLiteral("hello server\n"));
        trigger("acMonStop");
        QTRY_VERIFY_WITH_TIMEOUT(!clientPane->session()->controller()->isConnectionOpen(TcpClient), 3000);
        QCOMPARE(serverPane->receiveText(), QStringLiteral("hello server\n"));
        trigger("acMonStart");
        QCOMPARE(serverPane->receiveText(), QString());
        QCOMPARE(serverPane->session()->rxByteCount(), quint64(0));
    }

    // Receive File on a closed port says why before any dialog. On an open one the dialog
    // starts the focused pane's transfer; Cancel Transfer is offered only while it runs;
    // with "keep open" ticked the dialog comes back once the transfer has ended.
    void transferCommands()
    {
        int asked = 0;
        m_window->beforeAccept = [&](QDialog &dialog) {
            ++asked;
            auto *protocols = dialog.findChild<QComboBox *>(QStringLiteral("protocolBox"));
            protocols->setCurrentIndex(protocols->findData(int(XmodemCrc)));
            dialog.findChild<QLineEdit *>(QStringLiteral("pathEdit"))->setText(m_dir.path());
            dialog.findChild<QCheckBox *>(QStringLiteral("keepOpenCheck"))->setChecked(true);
            m_window->acceptDialogs = asked == 1;
        };
        QTest::ignoreMessage(QtWarningMsg, "The connection is not open.");
        trigger("acXferReceive");
        QCOMPARE(asked, 0);

        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost));
        FormatSetting client = m_window->pane(0)->settings();
        client.ConnMode = TcpClient;
        client.LastTargetHost = {QStringLiteral("127.0.0.1")};
        client.LastTargetPort = device.serverPort();
        m_window->pane(0)->applySettings(client);
        trigger("acMonStart");
        QTRY_VERIFY_WITH_TIMEOUT(m_window->pane(0)->session()->controller()->isConnectionOpen(TcpClient), 5000);
        QTcpSocket *wire = device.nextPendingConnection();
        QVERIFY(wire);
        QAction *cancel = child<QAction>(m_window.get(), "acXferCancel");
        QVERIFY(!cancel->isEnabled());
        trigger("acXferReceive");
        QCOMPARE(asked, 1);
        QTRY_VERIFY_WITH_TIMEOUT(wire->bytesAvailable() > 0 && wire->peek(1) == "C", 5000); // the receiver asks for CRC blocks
        QVERIFY(cancel->isEnabled());
        cancel->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!cancel->isEnabled(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(asked, 2, 5000);
        QVERIFY(!cancel->isEnabled()); // the second dialog was cancelled
    }

private:
    void trigger(const char *name) { child<QAction>(m_window.get(), name)->trigger(); }
    void addPanes(int count)
    {
        for (int i = 0; i < count; ++i)
            trigger("acEditAdd");
    }
    QString note(int pane) { return child<QStatusBar>(m_window->pane(pane), "statusbar")->currentMessage(); }

    QTemporaryDir m_dir;
    std::unique_ptr<ScriptedMainWindow> m_window;
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
