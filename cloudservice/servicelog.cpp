#include "cloudservice/servicelog.h"

#include <cstdio>

Q_LOGGING_CATEGORY(lcCloud, "quillon.cloudservice", QtWarningMsg)

void serviceLog(const QString &line)
{
    const QByteArray bytes = QStringLiteral("quillon-cloud: %1\n").arg(line).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
