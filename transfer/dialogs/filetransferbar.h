#pragma once

#include <QFrame>
#include <QTimer>
#include <memory>

class PortTransfer;

namespace Ui {
class FileTransferBar;
}

// The strip a pane shows while a file transfer runs on its port: what goes which way,
// how far it is, the rate, the time left and the retries, and a Cancel button.
class FileTransferBar : public QFrame
{
    Q_OBJECT
public:
    explicit FileTransferBar(PortTransfer *transfer, QWidget *parent = nullptr);
    ~FileTransferBar() override;

    QString title() const;
    QString detail() const;

    // What goes which way, for the transfer now running on `transfer`.
    static QString titleText(const PortTransfer &transfer);

signals:
    void cancelRequested();

private:
    void refresh();

    std::unique_ptr<Ui::FileTransferBar> ui;
    PortTransfer *m_transfer;
    QTimer m_refresh;  // progress comes per block; the bar repaints a few times a second
};
