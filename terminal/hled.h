#pragma once

#include <QColor>
#include <QWidget>

// A round lamp: a lit disc with a soft glow, or a dim disc when off.
class HLed : public QWidget
{
    Q_OBJECT
public:
    explicit HLed(QWidget *parent = nullptr);

    bool isOn() const { return m_on; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Standard lamp colours.
    static QColor green() { return QColor(Qt::green); }
    static QColor amber() { return QColor(240, 160, 32); }
    static QColor grey() { return QColor(144, 144, 144); }

public slots:
    void setColor(const QColor &color);
    QColor color() const;
    void toggle();
    void turnOn(bool on = true);
    void turnOff(bool off = true);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color = green();
    bool m_on = true;
};
