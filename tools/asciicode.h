#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AsciiCode;
}

// The ASCII chart: one row per code 0..127 in binary, decimal and hex, with the
// control codes' abbreviations and descriptions.
class AsciiCode : public QDialog
{
    Q_OBJECT
public:
    explicit AsciiCode(QWidget *parent = nullptr);
    ~AsciiCode() override;

private:
    std::unique_ptr<Ui::AsciiCode> ui;
};
