#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcCloud)

// Lines the operator needs in normal operation (listen address, registration codes,
// fatal start-up errors) go to stderr without a category, so that a journal or a
// terminal shows them whatever the logging rules say.
void serviceLog(const QString &line);
