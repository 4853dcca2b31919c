#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class NewConnection;
}

// Asks which kind of connection to add: serial port, TCP/IP or a bridge.
class NewConnection : public QDialog
{
    Q_OBJECT
public:
    enum Choice { SerialPortChoice = 0, NetworkChoice = 1, BridgeChoice = 2 };

    explicit NewConnection(QWidget *parent = nullptr);
    ~NewConnection() override;

    int selectedIndex() const;

private:
    std::unique_ptr<Ui::NewConnection> ui;
};
