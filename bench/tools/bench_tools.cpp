// How the toolbox copes with large input: for each row, the milliseconds the action
// itself takes and how late a 1 ms heartbeat timer fires while the window then
// lays out and paints the result (the longest the event loop was held up).
//
//   bench_tools [repeats [name-filter]]       run the table (rows whose name contains the filter)
//   bench_tools --screenshots DIR             save the three tool windows in English and Chinese

#include "app/startup.h"
#include "codec/hextext.h"
#include "tools/asciicode.h"
#include "tools/modbusbuilderdialog.h"
#include "tools/toolbox.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// Lines of ~70 characters, some of them CJK, up to size UTF-8 bytes.
QString sampleText(int size, bool lines)
{
    QString out;
    int n = 0;
    while (out.toUtf8().size() < size) {
        QString chunk;
        for (int i = 0; i < 64 && chunk.size() < 4096; ++i)
            chunk += QStringLiteral("sensor %1 temp=23.5 \u6E29\u5EA6 ok status=ready%2")
                             .arg(n++)
                             .arg(lines ? QStringLiteral("\n") : QStringLiteral(" "));
        out += chunk;
    }
    while (out.toUtf8().size() > size)
        out.chop(1);
    return out;
}

QString sampleHex(int digits)
{
    QString out;
    for (int i = 0; out.size() < digits; ++i)
        out += QString::number(0x41 + i % 26, 16).toUpper() + QLatin1Char(' ');
    out.truncate(digits);
    return out;
}

struct Figures
{
    double actionMs = 0;
    double latenessMs = 0;
};

// Runs action, then lets the event loop lay out and paint for settleMs. Lateness is the
// longest gap between heartbeat ticks beyond their 1 ms interval.
Figures measure(const std::function<void()> &action, int settleMs = 300)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    qint64 spent = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    QEventLoop loop;
    QTimer::singleShot(20, &loop, [&] {
        QElapsedTimer t;
        t.start();
        action();
        spent = t.nsecsElapsed();
        QTimer::singleShot(settleMs, &loop, &QEventLoop::quit);
    });
    heartbeat.start();
    last = clock.nsecsElapsed();
    loop.exec();
    return {double(spent) / 1e6, double(std::max<qint64>(0, worst - 1000000)) / 1e6};
}

template <typename T> T *child(QWidget *w, const char *name)
{
    return w->findChild<T *>(QLatin1String(name));
}

void paste(QPlainTextEdit *edit, const QString &text)
{
    edit->clear();
    QGuiApplication::clipboard()->setText(text);
    edit->setFocus();
    edit->paste();
}

struct Row
{
    const char *name;
    std::function<void(ToolBox *)> prepare;
    std::function<void(ToolBox *)> action;
};

int runTable(int repeats, const QString &filter)
{
    const QString mbLines = sampleText(1 << 20, true);
    const QString mbOneLine = sampleText(1 << 20, false);
    const QString hex10k = sampleHex(10000);
    const auto input = [](ToolBox *b) { return child<QPlainTextEdit>(b, "inputText"); };
    const auto crcInput = [](ToolBox *b) { return child<QPlainTextEdit>(b, "inputCrc"); };
    const auto crcTab = [](ToolBox *b) { child<QTabWidget>(b, "tabWidget")->setCurrentIndex(1); };
    const auto customCrc64 = [&](ToolBox *b) {
        crcTab(b);
        auto *name = child<QComboBox>(b, "cbName");
        name->setCurrentIndex(name->count() - 1);
        child<QLineEdit>(b, "leWidth")->setText(QStringLiteral("64"));
        child<QLineEdit>(b, "lePoly")->setText(QStringLiteral("42F0E1EBA9EA3693"));
    };
    const auto typeOneKey = [&](ToolBox *b) {
        crcInput(b)->moveCursor(QTextCursor::End);
        QTest::keyClick(crcInput(b), Qt::Key_X);
    };
    const std::vector<Row> rows = {
        {"paste 1 MB text, lines", nullptr, [&](ToolBox *b) { paste(input(b), mbLines); }},
        {"paste 1 MB text, one line", nullptr, [&](ToolBox *b) { paste(input(b), mbOneLine); }},
        {"text to hex, 1 MB lines", [&](ToolBox *b) { input(b)->setPlainText(mbLines); },
         [](ToolBox *b) { child<QPushButton>(b, "textToHex")->click(); }},
        {"text to hex, 1 MB one line", [&](ToolBox *b) { input(b)->setPlainText(mbOneLine); },
         [](ToolBox *b) { child<QPushButton>(b, "textToHex")->click(); }},
        {"paste 10,000 hex digits", nullptr, [&](ToolBox *b) { paste(input(b), hex10k); }},
        {"hex to text, 10,000 digits", [&](ToolBox *b) { input(b)->setPlainText(hex10k); },
         [](ToolBox *b) { child<QPushButton>(b, "hexToText")->click(); }},
        {"hex to text, 3 MB hex of text with lines", [&](ToolBox *b) {
             input(b)->setPlainText(toHexPairs(mbLines.toUtf8(), 16));
         },
         [](ToolBox *b) { child<QPushButton>(b, "hexToText")->click(); }},
        {"hex to text, 3 MB hex of one-line text", [&](ToolBox *b) {
             input(b)->setPlainText(toHexPairs(mbOneLine.toUtf8(), 16));
         },
         [](ToolBox *b) { child<QPushButton>(b, "hexToText")->click(); }},
        {"CRC paste 1 MB text, CRC-16/MODBUS", crcTab, [&](ToolBox *b) { paste(crcInput(b), mbLines); }},
        {"CRC paste 1 MB text, custom 64", customCrc64, [&](ToolBox *b) { paste(crcInput(b), mbLines); }},
        {"CRC one key typed after 1 MB", [&](ToolBox *b) {
             crcTab(b);
             crcInput(b)->setPlainText(mbLines);
         },
         typeOneKey},
        {"CRC one key typed after 1 MB, custom 64", [&](ToolBox *b) {
             customCrc64(b);
             crcInput(b)->setPlainText(mbLines);
         },
         typeOneKey},
    };
    std::printf("%-42s %12s %14s\n", "row", "action ms", "loop late ms");
    for (const Row &row : rows) {
        if (!filter.isEmpty() && !QString::fromLatin1(row.name).contains(filter))
            continue;
        for (int i = 0; i < repeats; ++i) {
            ToolBox box;
            box.resize(700, 560);
            box.show();
            if (row.prepare)
                row.prepare(&box);
            measure([] {}, 200); // settle what prepare laid out
            const Figures f = measure([&] { row.action(&box); });
            std::printf("%-42s %12.1f %14.1f\n", row.name, f.actionMs, f.latenessMs);
            std::fflush(stdout);
        }
    }
    return 0;
}

bool save(QWidget *w, const QString &path)
{
    w->show();
    measure([] {}, 300);
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", qPrintable(path), ok ? "saved" : "FAILED");
    return ok;
}

int runScreenshots(QApplication &app, const QString &dir)
{
    QDir().mkpath(dir);
    bool ok = true;
    for (const bool chinese : {false, true}) {
        QTranslator translator;
        if (chinese) {
            if (!loadLanguage(translator, 1, QString()))
                return 1;
            app.installTranslator(&translator);
        }
        const QString suffix = chinese ? QStringLiteral("zh_CN") : QStringLiteral("en");
        {
            ModbusBuilderDialog builder;
            ok = save(&builder, QStringLiteral("%1/modbus-rtu-%2.png").arg(dir, suffix)) && ok;
            child<QComboBox>(&builder, "protocolBox")->setCurrentIndex(1);
            auto *function = child<QComboBox>(&builder, "functionBox");
            function->setCurrentIndex(function->findData(0x10));
            child<QLineEdit>(&builder, "valuesEdit")->setText(QStringLiteral("000A 0102"));
            ok = save(&builder, QStringLiteral("%1/modbus-ascii-%2.png").arg(dir, suffix)) && ok;
            child<QSpinBox>(&builder, "addressSpin")->setValue(65535);
            ok = save(&builder, QStringLiteral("%1/modbus-error-%2.png").arg(dir, suffix)) && ok;
        }
        {
            ToolBox box;
            child<QPlainTextEdit>(&box, "inputText")->setPlainText(QStringLiteral("41 FF 42 E6 B8 A9"));
            child<QPushButton>(&box, "hexToText")->click();
            ok = save(&box, QStringLiteral("%1/toolbox-converter-%2.png").arg(dir, suffix)) && ok;
            child<QTabWidget>(&box, "tabWidget")->setCurrentIndex(1);
            child<QPlainTextEdit>(&box, "inputCrc")->setPlainText(QStringLiteral("123456789"));
            child<QPushButton>(&box, "calculateCRC")->click();
            ok = save(&box, QStringLiteral("%1/toolbox-crc-%2.png").arg(dir, suffix)) && ok;
            auto *name = child<QComboBox>(&box, "cbName");
            name->setCurrentIndex(name->count() - 1);
            child<QLineEdit>(&box, "leWidth")->setText(QStringLiteral("65"));
            ok = save(&box, QStringLiteral("%1/toolbox-crc-custom-%2.png").arg(dir, suffix)) && ok;
        }
        {
            AsciiCode chart;
            ok = save(&chart, QStringLiteral("%1/ascii-%2.png").arg(dir, suffix)) && ok;
        }
        app.removeTranslator(&translator);
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ensureConsolasFallback();
    const QStringList args = app.arguments();
    if (args.size() > 2 && args.at(1) == QLatin1String("--screenshots"))
        return runScreenshots(app, args.at(2));
    const int repeats = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 3;
    return runTable(repeats, args.size() > 2 ? args.at(2) : QString());
}
