#include "terminal/hled.h"

#include <QPainter>
#include <QRadialGradient>

HLed::HLed(QWidget *parent)
    : QWidget(parent)
{
}

QSize HLed::sizeHint() const
{
    return QSize(20, 20);
}

QSize HLed::minimumSizeHint() const
{
    return QSize(16, 16);
}

void HLed::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

QColor HLed::color() const
{
    return m_color;
}

void HLed::toggle()
{
    m_on = !m_on;
    update();
}

void HLed::turnOn(bool on)
{
    m_on = on;
    update();
}

void HLed::turnOff(bool off)
{
    m_on = !off;
    update();
}

void HLed::paintEvent(QPaintEvent *)
{
    const int side = qMin(width(), height());
    if (side < 2)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal bigR = (side + 1) / 2.0;
    const qreal r = 0.68 * bigR;
    const QPointF centre(width() / 2.0, height() / 2.0);

    if (!m_on) {
        int h = 0, s = 0, v = 0;
        m_color.getHsv(&h, &s, &v);
        const QColor dimmed = QColor::fromHsv(h, 2 * s / 3, v > 212 ? v / 3 : 70, 255);
        QRadialGradient gradient(centre - QPointF(0, 0.3 * r), r);
        gradient.setColorAt(0, m_color.lighter(130));
        gradient.setColorAt(1, dimmed);
        painter.setBrush(gradient);
        painter.setPen(QPen(QColor(0, 0, 0, 90), 1));
        painter.drawEllipse(centre, r, r);
        return;
    }

    // The glow fades out from just inside the lamp's rim to the widget's edge.
    QColor glowColour = m_color;
    glowColour.setAlpha(110);
    QColor clear = m_color;
    clear.setAlpha(0);
    QRadialGradient glow(centre, bigR);
    glow.setColorAt(0.85 * r / bigR, glowColour);
    glow.setColorAt(1, clear);
    painter.setBrush(glow);
    painter.drawEllipse(centre, bigR, bigR);

    QRadialGradient lamp(centre - QPointF(0, 0.35 * r), 1.9 * r);
    lamp.setColorAt(0, m_color.lighter(165));
    lamp.setColorAt(0.5, m_color);
    lamp.setColorAt(1, m_color.darker(120));
    painter.setBrush(lamp);
    painter.setPen(QPen(m_color.darker(135), 1));
    painter.drawEllipse(centre, r, r);
}
