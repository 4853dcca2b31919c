#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// Signs in with the test account on the account dialog's first page; true when the
// dialog closed with the sign-in applied.
inline bool signInThroughDialog(QDialog &dialog, bool keep)
{
    dialog.show();
    dialog.findChild<QLineEdit *>(QStringLiteral("signInEmailEdit"))->setText(QStringLiteral("ann@example.com"));
    dialog.findChild<QLineEdit *>(QStringLiteral("signInPasswordEdit"))->setText(QStringLiteral("correct horse"));
    dialog.findChild<QCheckBox *>(QStringLiteral("keepSignedInCheck"))->setChecked(keep);
    dialog.findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
    return QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 15000);
}
