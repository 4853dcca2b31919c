#include "settings/displayfont.h"

#include <QFontDatabase>
#include <QSet>

namespace {

const QSet<QString> &installedFamilies()
{
    static const QSet<QString> families = [] {
        QSet<QString> set;
        const QStringList all = QFontDatabase::families();
        for (const QString &f : all)
            set.insert(f.toCaseFolded());
        return set;
    }();
    return families;
}

} // namespace

bool isFontFamilyAvailable(const QString &family)
{
    const QString name = family.trimmed();
    return !name.isEmpty() && installedFamilies().contains(name.toCaseFolded());
}

QString preferredMonospaceFamily()
{
    static const QString family = [] {
        const char *const candidates[] = {"Consolas", "Menlo", "SF Mono", "Monaco", "DejaVu Sans Mono",
                                          "Liberation Mono", "Noto Sans Mono", "Courier New"};
        for (const char *candidate : candidates) {
            const QString name = QString::fromLatin1(candidate);
            if (isFontFamilyAvailable(name))
                return name;
        }
        return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    }();
    return family;
}

QFont makeDisplayFont(const QString &family, int pointSize)
{
    QFont font(isFontFamilyAvailable(family) ? family.trimmed() : preferredMonospaceFamily());
    font.setPointSize(pointSize < 1 ? 12 : pointSize);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}
