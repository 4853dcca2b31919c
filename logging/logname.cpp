#include "logging/logname.h"

#include "settings/formatsetting.h"

#include <QCoreApplication>
#include <QFileInfo>

QString logNamePlaceholderHelp()
{
    return QCoreApplication::translate(
        "LogWriter",
        "%S - session name; \n%Y - four-digit year; %y - two-digit year; %M - two-digit month; "
        "%D - two-digit day of the month;\n%h - two-digit hour; %m - two-digit minute; "
        "%s - two-digit seconds; %z - three-digit milliseconds ");
}

static void appendDigits(QString &out, int value, int width)
{
    QChar digits[4];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = QChar(u'0' + value % 10);
        value /= 10;
    }
    out.append(digits, width);
}

QString expandTimePattern(const QDateTime &time, const QString &pattern)
{
    // One left-to-right pass: it runs for every stamped log line. Since every
    // replacement is made of digits only, it gives the same text as replacing
    // the placeholders one after the other.
    const QDate date = time.date();
    const QTime clock = time.time();
    QString out;
    out.reserve(pattern.size() + 16);
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = pattern.at(i);
        if (c != u'%' || i + 1 == n) {
            out.append(c);
            continue;
        }
        switch (pattern.at(i + 1).unicode()) {
        case u'Y': appendDigits(out, qAbs(date.year()) % 10000, 4); break;
        case u'y': appendDigits(out, qAbs(date.year()) % 100, 2); break;
        case u'M': appendDigits(out, date.month() > 0 ? date.month() : 0, 2); break;
        case u'D': appendDigits(out, date.day() > 0 ? date.day() : 0, 2); break;
        case u'h': appendDigits(out, clock.isValid() ? clock.hour() : 0, 2); break;
        case u'm': appendDigits(out, clock.isValid() ? clock.minute() : 0, 2); break;
        case u's': appendDigits(out, clock.isValid() ? clock.second() : 0, 2); break;
        case u'z':
        case u'e': appendDigits(out, clock.isValid() ? clock.msec() : 0, 3); break;
        default:
            out.append(c);
            continue;
        }
        ++i;
    }
    return out;
}

QString resolveLogName(const QString &pattern, const QString &sessionName, const QDateTime &now)
{
    // A port name such as "/dev/ttyUSB0" must not turn into folders, and a
    // session name is inserted after the time so its own '%' stay literal.
    QString session = sessionName;
    session.replace(u'/', u'_').replace(u'\\', u'_');
    QString out = expandTimePattern(now, pattern);
    out.replace(QLatin1String("%S"), session);
    return out;
}

QString defaultLogPath()
{
    return FormatSetting::defaultLogPath();
}

QString sessionNameFrom(const QString &filePath)
{
    QString name = QFileInfo(filePath).fileName();
    const QLatin1String prefix("Session_");
    if (name.startsWith(prefix))
        name.remove(0, prefix.size());
    return name;
}
