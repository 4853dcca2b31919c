#pragma once

#include <QFont>
#include <QString>

// Fixed-width fonts for every text view. The installed families are read once
// per process; these need a QGuiApplication.
QString preferredMonospaceFamily();
bool isFontFamilyAvailable(const QString &family);
QFont makeDisplayFont(const QString &family, int pointSize);
