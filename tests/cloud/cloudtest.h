#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// Saves a grab of the widget as NAME.png in the folder QUILLON_SCREENSHOT_DIR names, if any.
inline void saveScreenshot(QWidget &widget, const QString &name)
{
    const QString folder = qEnvironmentVariable("QUILLON_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        widget.grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

// Signs in with the test account on the account dialog's first page; true when the
// dialog closed with the sign-in applied.
inline bool signInThroughDialog(QDialog &dialog, bool keep, const QString &screenshot = QString())
{
    dialog.show();
    dialog.findChild<QLineEdit *>(QStringLiteral("signInEmailEdit"))->setText(QStringLiteral("ann@example.com"));
    dialog.findChild<QLineEdit *>(QStringLiteral("signInPasswordEdit"))->setText(QStringLiteral("correct horse"));
    dialog.findChild<QCheckBox *>(QStringLiteral("keepSignedInCheck"))->setChecked(keep);
    if (!screenshot.isEmpty())
        saveScreenshot(dialog, screenshot);
    dialog.findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
    return QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 15000);
}
