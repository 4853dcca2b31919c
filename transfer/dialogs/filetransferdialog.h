#pragma once

#include "transfer/xferoptions.h"

#include <QDialog>
#include <memory>

class PortSession;
class PortTransfer;

namespace Ui {
class FileTransferDialog;
}

// Asks for one transfer on one port: direction, protocol, block size, the file or the
// folder, the receive limit and, on a TCP server, the client. Remembers the choices
// in the application settings when accepted.
class FileTransferDialog : public QDialog
{
    Q_OBJECT
public:
    FileTransferDialog(const PortSession &port, XferOptions::Direction direction, QWidget *parent = nullptr);
    ~FileTransferDialog() override;

    XferOptions options() const;
    // The file to send, or the folder to receive into.
    QString path() const;
    // The name for a received file when the protocol carries none.
    QString fileName() const;
    QString client() const;
    bool keepOpen() const;

    // Selects the chosen client on the port and starts the transfer the dialog describes.
    bool startOn(PortTransfer &transfer, QString *refusal) const;

    // What the connection line says about a port.
    static QString connectionText(const PortSession &port);
    static bool allowsStreaming(const PortSession &port);

public slots:
    void accept() override;

private:
    void refreshFields();
    void browse();

    std::unique_ptr<Ui::FileTransferDialog> ui;
    XferOptions::Direction m_direction;
    bool m_network = false;
    bool m_streamingAllowed = false;
};
