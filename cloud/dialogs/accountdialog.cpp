#include "cloud/dialogs/accountdialog.h"
#include "ui_accountdialog.h"

#include "cloud/accountsession.h"
#include "cloud/networkservices.h"

#include <QPushButton>
#include <QSysInfo>

AccountDialog::AccountDialog(AccountSession *account, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AccountDialog>())
    , m_account(account)
    , m_network(account->network())
{
    ui->setupUi(this);
    connect(ui->signInButton, &QPushButton::clicked, this, &AccountDialog::signIn);
    connect(ui->sendCodeButton, &QPushButton::clicked, this, &AccountDialog::sendCode);
    connect(ui->registerButton, &QPushButton::clicked, this, &AccountDialog::registerAccount);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_network, &NetworkServices::accountResponse, this, &AccountDialog::handleAccountResponse);
    connect(m_network, &NetworkServices::networkError, this, &AccountDialog::handleNetworkError);
    ui->keepSignedInCheck->setChecked(true);
    ui->signInEmailEdit->setText(account->email());
}

AccountDialog::~AccountDialog() = default;

QString AccountDialog::deviceName()
{
    return QSysInfo::machineHostName();
}

void AccountDialog::setWaiting(bool waiting)
{
    m_waiting = waiting;
    for (QPushButton *button : {ui->signInButton, ui->sendCodeButton, ui->registerButton})
        button->setEnabled(!waiting);
}

void AccountDialog::showMessage(QMessageBox::Icon icon, const QString &text)
{
    auto *box = new QMessageBox(icon, tr("Account"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void AccountDialog::sendCode()
{
    const QString email = ui->registerEmailEdit->text().trimmed();
    if (email.isEmpty()) {
        showMessage(QMessageBox::Warning, tr("Please enter an email address."));
        return;
    }
    setWaiting(true);
    m_network->requestRegisterCode(email);
}

void AccountDialog::signIn()
{
    const QString email = ui->signInEmailEdit->text().trimmed();
    const QString password = ui->signInPasswordEdit->text();
    if (email.isEmpty() || password.isEmpty()) {
        showMessage(QMessageBox::Warning, tr("Please enter your email and password."));
        return;
    }
    m_account->beginSignIn(ui->keepSignedInCheck->isChecked());
    setWaiting(true);
    m_network->login(email, password, m_account->deviceId(), deviceName(), QStringLiteral(QUILLON_VERSION));
}

void AccountDialog::registerAccount()
{
    if (ui->registerPasswordEdit->text() != ui->registerConfirmEdit->text()) {
        showMessage(QMessageBox::Warning, tr("Passwords do not match."));
        return;
    }
    m_account->beginSignIn(ui->keepSignedInCheck->isChecked());
    setWaiting(true);
    m_network->registerAccount(ui->registerEmailEdit->text().trimmed(), ui->registerUsernameEdit->text().trimmed(),
                               ui->registerPasswordEdit->text(), ui->registerCodeEdit->text().trimmed(),
                               m_account->deviceId(), deviceName(), QStringLiteral(QUILLON_VERSION));
}

void AccountDialog::handleAccountResponse(const QJsonObject &response)
{
    if (!m_waiting || response.value(QStringLiteral("type")).toString() != QLatin1String("account"))
        return;
    setWaiting(false);
    const bool ok = response.value(QStringLiteral("status")).toBool();
    if (ok && response.contains(QStringLiteral("access_token"))) {
        accept(); // the account session has applied it
        return;
    }
    QString text = response.value(QStringLiteral("description")).toString();
    if (text.isEmpty())
        text = ok ? tr("Request completed.") : tr("Request failed.");
    const bool pending = response.value(QStringLiteral("code")).toString() == QLatin1String("account_pending_review");
    showMessage(ok || pending ? QMessageBox::Information : QMessageBox::Warning, text);
}

void AccountDialog::handleNetworkError(const QString &domain, const QString &message, const QString &detail)
{
    Q_UNUSED(detail);
    if (!m_waiting || domain != QLatin1String("account"))
        return;
    setWaiting(false);
    showMessage(QMessageBox::Warning, message);
}
