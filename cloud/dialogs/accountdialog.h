#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QMessageBox>

#include <memory>

class AccountSession;
class NetworkServices;

namespace Ui {
class AccountDialog;
}

// Signing in and registering. The account session applies the sign-in answer; the
// dialog closes when it arrives and shows every other answer in a message box.
class AccountDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AccountDialog(AccountSession *account, QWidget *parent = nullptr);
    ~AccountDialog() override;

    static QString deviceName();

public slots:
    void sendCode();
    void signIn();
    void registerAccount();
    void handleAccountResponse(const QJsonObject &response);
    void handleNetworkError(const QString &domain, const QString &message, const QString &detail);

private:
    void setWaiting(bool waiting);
    // Window-modal and not blocking, so the dialog keeps answering.
    void showMessage(QMessageBox::Icon icon, const QString &text);

    std::unique_ptr<Ui::AccountDialog> ui;
    AccountSession *m_account;
    NetworkServices *m_network;
    bool m_waiting = false;
};
