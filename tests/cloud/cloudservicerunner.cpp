#include "cloudservicerunner.h"

#include <QRegularExpression>
#include <QTest>

bool CloudServiceRunner::start(int accessTokenTtlSeconds, quint16 port)
{
    stop();
    m_ttl = accessTokenTtlSeconds;
    m_port = 0;
    m_lines.clear();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillon.cloudservice.info=true")); // a line per request
    m_process.setProcessEnvironment(env);
    m_process.start(binary(), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port),
                               QStringLiteral("--database"), database(), QStringLiteral("--access-token-ttl"),
                               QString::number(accessTokenTtlSeconds)});
    const QRegularExpression listening(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
    (void)QTest::qWaitFor([&] {
        readLines();
        for (const QString &line : std::as_const(m_lines)) {
            if (const QRegularExpressionMatch found = listening.match(line); found.hasMatch())
                m_port = quint16(found.captured(1).toUInt());
        }
        return m_port != 0 || m_process.state() == QProcess::NotRunning;
    }, 15000);
    return m_process.state() == QProcess::Running && m_port != 0;
}

void CloudServiceRunner::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished(5000);
    readLines();
}

void CloudServiceRunner::readLines()
{
    m_partial += m_process.readAllStandardError();
    for (qsizetype end; (end = m_partial.indexOf('\n')) >= 0; m_partial.remove(0, end + 1))
        m_lines << QString::fromUtf8(m_partial.left(end));
}

int CloudServiceRunner::requestCount(const QString &method, const QString &path)
{
    readLines();
    const QString request = method + QLatin1Char(' ') + path + QLatin1Char(' ');
    return int(std::count_if(m_lines.cbegin(), m_lines.cend(), [&](const QString &line) { return line.contains(request); }));
}

bool CloudServiceRunner::addUser(const QString &email, const QString &password)
{
    QProcess add;
    add.start(binary(), {QStringLiteral("add-user"), email, QStringLiteral("--database"), database()});
    add.write(password.toUtf8() + '\n');
    add.closeWriteChannel();
    return add.waitForFinished(30000) && add.exitStatus() == QProcess::NormalExit && add.exitCode() == 0;
}
