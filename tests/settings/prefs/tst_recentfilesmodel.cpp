#include "settings/recentfilesmodel.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The text or the path of each entry the menu shows.
static QStringList shown(const RecentFilesModel &model, bool texts = true)
{
    QStringList out;
    const auto actions = model.actions();
    for (const QAction *a : actions) {
        if (a->isVisible())
            out << (texts ? a->text() : a->data().toString());
    }
    return out;
}

class tst_RecentFilesModel : public QObject
{
    Q_OBJECT
private slots:
    void addFile_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("added");
        QTest::addColumn<QStringList>("after");

        const QString a = QStringLiteral("/d/a.qln"), b = QStringLiteral("/d/b.qln"), c = QStringLiteral("/d/c.qln");
        QTest::newRow("new path goes first") << QStringList{a, b} << c << QStringList{c, a, b};
        QTest::newRow("middle entry moves to the top") << QStringList{a, b, c} << b << QStringList{b, a, c};
        QTest::newRow("top entry stays single") << QStringList{a, b} << a << QStringList{a, b};
        QTest::newRow("empty path ignored, repeats dropped on set") << QStringList{a, QString(), a, b} << QString() << QStringList{a, b};
    }

    void addFile()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, added);
        QFETCH(QStringList, after);
        RecentFilesModel model;
        model.setFiles(before);
        model.addFile(added);
        QCOMPARE(model.files(), after);
        QCOMPARE(shown(model, false), after);
        QVERIFY(model.separator()->isVisible());
    }

    void menuShowsTheFirstNineExisting()
    {
        RecentFilesModel model;
        QStringList files;
        for (int i = 1; i <= 12; ++i)
            files << QStringLiteral("/docs/s%1.qln").arg(i);
        files[0] = QStringLiteral("/docs/R&D bench.qln");
        model.setFiles(files);
        QCOMPARE(shown(model, false), files.mid(0, 9));
        // A '&' in a name is doubled so that it shows instead of making a mnemonic.
        QCOMPARE(shown(model).first(), QStringLiteral("&1 R&&D bench.qln"));
        QCOMPARE(shown(model).last(), QStringLiteral("&9 s9.qln"));
        QCOMPARE(model.files(), files); // only the menu stops at nine

        // Files that are gone stay listed until a purge, which drops them and hides the rest.
        QTemporaryDir dir;
        const QString kept = dir.filePath(QStringLiteral("kept.qln"));
        QFile f(kept);
        QVERIFY(f.open(QIODevice::WriteOnly));
        model.setFiles({dir.filePath(QStringLiteral("never-written.qln")), kept});
        model.addFile(dir.filePath(QStringLiteral("unsaved.qln")));
        QCOMPARE(shown(model).size(), 3);
        model.updateActions(true);
        QCOMPARE(shown(model), QStringList{QStringLiteral("&1 kept.qln")});
        QCOMPARE(model.files(), QStringList{kept});
        QVERIFY(f.remove());
        model.updateActions(true);
        QVERIFY(model.files().isEmpty());
        QVERIFY(shown(model).isEmpty());
        QVERIFY(!model.separator()->isVisible());
    }
};

QTEST_MAIN(tst_RecentFilesModel)
#include "tst_recentfilesmodel.moc"
