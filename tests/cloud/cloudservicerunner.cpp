#include "cloudservicerunner.h"

#include <QDeadlineTimer>
#include <QTest>

bool CloudServiceRunner::start(int accessTokenTtlSeconds, quint16 port)
{
    stop();
    m_ttl = accessTokenTtlSeconds;
    m_lines.clear();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillon.cloudservice.info=true"));
    m_process.setProcessEnvironment(env);
    m_process.start(binary(), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port),
                               QStringLiteral("--database"), database(), QStringLiteral("--access-token-ttl"),
                               QString::number(accessTokenTtlSeconds)});
    if (!m_process.waitForStarted(10000))
        return false;
    const QString found = waitFor(QRegularExpression(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)")), 15000);
    m_port = quint16(found.toUInt());
    return m_port != 0;
}

void CloudServiceRunner::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    readLines();
}

void CloudServiceRunner::readLines()
{
    m_partial += m_process.readAllStandardError();
    qsizetype end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        m_lines << QString::fromUtf8(m_partial.left(end));
        m_partial.remove(0, end + 1);
    }
}

QString CloudServiceRunner::waitFor(const QRegularExpression &pattern, int ms)
{
    QString captured;
    (void)QTest::qWaitFor(
        [&] {
            m_process.waitForReadyRead(10);
            readLines();
            for (const QString &line : std::as_const(m_lines)) {
                const QRegularExpressionMatch match = pattern.match(line);
                if (match.hasMatch()) {
                    captured = match.captured(1);
                    return true;
                }
            }
            return m_process.state() == QProcess::NotRunning;
        },
        ms);
    return captured;
}

int CloudServiceRunner::requestCount(const QString &method, const QString &path)
{
    readLines();
    const QString start = method + QLatin1Char(' ') + path + QLatin1Char(' ');
    int count = 0;
    for (const QString &line : std::as_const(m_lines))
        count += line.contains(start) ? 1 : 0;
    return count;
}

QString CloudServiceRunner::registrationCode(const QString &email)
{
    return waitFor(QRegularExpression(QStringLiteral("registration code for %1: (\\d{6})")
                                          .arg(QRegularExpression::escape(email))),
                   10000);
}

bool CloudServiceRunner::addUser(const QString &email, const QString &password)
{
    QProcess add;
    add.start(binary(), {QStringLiteral("add-user"), email, QStringLiteral("--database"), database()});
    add.write(password.toUtf8() + '\n');
    add.closeWriteChannel();
    return add.waitForFinished(30000) && add.exitStatus() == QProcess::NormalExit && add.exitCode() == 0;
}
