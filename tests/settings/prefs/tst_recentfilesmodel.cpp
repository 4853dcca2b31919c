#include "settings/lastsettings.h"
#include "settings/recentfilesmodel.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The File menu as the main window builds it: entries, separator, "Exit".
struct FileMenu
{
    QMenu menu;
    RecentFilesModel model;
    QAction *exit = nullptr;

    FileMenu()
    {
        menu.addAction(QStringLiteral("Open..."));
        exit = menu.addAction(QStringLiteral("Exit"));
        menu.insertActions(exit, model.menuActions());
    }

    QStringList shownTexts() const
    {
        QStringList out;
        const auto actions = menu.actions();
        for (QAction *a : actions) {
            if (a->isVisible() && !a->isSeparator() && a != exit && a->text() != QLatin1String("Open..."))
                out << a->text();
        }
        return out;
    }

    QStringList shownPaths() const
    {
        QStringList out;
        const auto actions = menu.actions();
        for (QAction *a : actions) {
            if (a->isVisible() && a->data().isValid())
                out << a->data().toString();
        }
        return out;
    }
};

class tst_RecentFilesModel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void menuOrder();
    void addFile_data();
    void addFile();
    void twelveEntriesShowTheFirstNine();
    void separatorOnlyWithEntries();
    void triggeringRequestsTheFullPath();
    void ampersandInNameStaysVisible();
    void missingFilesKeptUntilPurged();
    void vanishedFileGoneAfterRestart();

private:
    QString makeFile(const QString &name);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_RecentFilesModel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString tst_RecentFilesModel::makeFile(const QString &name)
{
    const QString path = m_dir->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot create test file");
    f.write("PortNumber=1\n");
    return path;
}

void tst_RecentFilesModel::menuOrder()
{
    FileMenu m;
    m.model.setFiles({QStringLiteral("/x/a.qln")});
    const auto actions = m.menu.actions();
    QCOMPARE(actions.size(), 1 + RecentFilesModel::actionCount + 1 + 1);
    QCOMPARE(actions.at(1), m.model.actions().first());
    QVERIFY(actions.at(actions.size() - 2)->isSeparator());
    QCOMPARE(actions.last(), m.exit);
}

void tst_RecentFilesModel::addFile_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QStringList>("after");

    const QString a = QStringLiteral("/d/a.qln"), b = QStringLiteral("/d/b.qln"), c = QStringLiteral("/d/c.qln");
    QTest::newRow("new path goes first") << QStringList{a, b} << c << QStringList{c, a, b};
    QTest::newRow("last entry moves to the top") << QStringList{a, b, c} << c << QStringList{c, a, b};
    QTest::newRow("middle entry moves to the top") << QStringList{a, b, c} << b << QStringList{b, a, c};
    QTest::newRow("top entry stays single") << QStringList{a, b} << a << QStringList{a, b};
    QTest::newRow("empty path ignored") << QStringList{a, b} << QString() << QStringList{a, b};
    QTest::newRow("into an empty list") << QStringList() << a << QStringList{a};
}

void tst_RecentFilesModel::addFile()
{
    QFETCH(QStringList, before);
    QFETCH(QString, added);
    QFETCH(QStringList, after);
    FileMenu m;
    m.model.setFiles(before);
    m.model.addFile(added);
    QCOMPARE(m.model.files(), after);
    QCOMPARE(m.shownPaths(), after);
    QCOMPARE(m.shownTexts().value(0), QStringLiteral("&1 ") + QFileInfo(after.first()).fileName());
}

void tst_RecentFilesModel::twelveEntriesShowTheFirstNine()
{
    FileMenu m;
    QStringList files;
    for (int i = 1; i <= 12; ++i)
        files << QStringLiteral("/docs/session%1.qln").arg(i);
    m.model.setFiles(files);

    QStringList texts;
    for (int i = 1; i <= 9; ++i)
        texts << QStringLiteral("&%1 session%1.qln").arg(i);
    QCOMPARE(m.shownTexts(), texts);
    QCOMPARE(m.shownPaths(), files.mid(0, 9));
    // The list itself keeps all twelve; only the menu stops at nine.
    QCOMPARE(m.model.files(), files);

    // Shortening the list hides the actions beyond it again.
    m.model.setFiles(files.mid(0, 2));
    QCOMPARE(m.shownPaths(), files.mid(0, 2));
}

void tst_RecentFilesModel::separatorOnlyWithEntries()
{
    FileMenu m;
    QVERIFY(!m.model.separator()->isVisible());
    m.model.addFile(makeFile(QStringLiteral("only.qln")));
    QVERIFY(m.model.separator()->isVisible());
    QFile::remove(m.model.files().first());
    m.model.updateActions(true);
    QVERIFY(m.model.files().isEmpty());
    QVERIFY(!m.model.separator()->isVisible());
    QVERIFY(m.shownPaths().isEmpty());
}

void tst_RecentFilesModel::triggeringRequestsTheFullPath()
{
    FileMenu m;
    const QStringList files{QStringLiteral("/d/one.qln"), QStringLiteral("/e/two.qln"), QStringLiteral("/f/3.qln")};
    m.model.setFiles(files);
    QSignalSpy spy(&m.model, &RecentFilesModel::fileRequested);
    m.model.actions().at(1)->trigger();
    m.model.actions().at(2)->trigger();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toString(), files.at(1));
    QCOMPARE(spy.at(1).at(0).toString(), files.at(2));
}

void tst_RecentFilesModel::ampersandInNameStaysVisible()
{
    FileMenu m;
    m.model.setFiles({QStringLiteral("/d/R&D bench.qln")});
    QCOMPARE(m.shownTexts(), QStringList{QStringLiteral("&1 R&&D bench.qln")});
    QCOMPARE(m.shownPaths(), QStringList{QStringLiteral("/d/R&D bench.qln")});
}

void tst_RecentFilesModel::missingFilesKeptUntilPurged()
{
    FileMenu m;
    const QString kept = makeFile(QStringLiteral("kept.qln"));
    const QString gone = m_dir->filePath(QStringLiteral("never-written.qln"));
    m.model.setFiles({gone, kept});
    m.model.addFile(m_dir->filePath(QStringLiteral("unsaved.qln")));
    QCOMPARE(m.model.files().size(), 3);
    m.model.updateActions(true);
    QCOMPARE(m.model.files(), QStringList{kept});
    QCOMPARE(m.shownTexts(), QStringList{QStringLiteral("&1 kept.qln")});
}

void tst_RecentFilesModel::vanishedFileGoneAfterRestart()
{
    const QString a = makeFile(QStringLiteral("a.qln"));
    const QString b = makeFile(QStringLiteral("b.qln"));
    const QString c = makeFile(QStringLiteral("c.qln"));
    const QString storePath = m_dir->filePath(QStringLiteral("prefs.ini"));

    // First run: open the three documents, then exit.
    {
        FileMenu m;
        m.model.addFile(a);
        m.model.addFile(b);
        m.model.addFile(c);
        LastSettings prefs = LastSettings::builtInDefaults();
        prefs.RecentFiles = m.model.files();
        QSettings store(storePath, QSettings::IniFormat);
        writePreferences(store, prefs);
    }

    QVERIFY(QFile::remove(b));

    // Next start: the list comes from the store and is purged.
    FileMenu m;
    QSettings store(storePath, QSettings::IniFormat);
    m.model.setFiles(readPreferences(store).RecentFiles);
    m.model.updateActions(true);
    QCOMPARE(m.model.files(), (QStringList{c, a}));
    QCOMPARE(m.shownTexts(), (QStringList{QStringLiteral("&1 c.qln"), QStringLiteral("&2 a.qln")}));
    QCOMPARE(m.shownPaths(), (QStringList{c, a}));
}

QTEST_MAIN(tst_RecentFilesModel)
#include "tst_recentfilesmodel.moc"
