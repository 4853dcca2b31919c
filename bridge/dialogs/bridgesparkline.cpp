#include "bridge/dialogs/bridgesparkline.h"

#include <QPainter>

BridgeSparkline::BridgeSparkline(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(48);
    setToolTip(tr("Last two minutes. Above the line: A to B. Below: B to A. Red bands mark seconds where data was dropped."));
}

void BridgeSparkline::setSamples(const QList<BridgeSample> &samples)
{
    m_samples = samples.mid(qMax<qsizetype>(0, samples.size() - BridgeLink::MaxSamples));
    update();
}

void BridgeSparkline::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    if (m_samples.isEmpty()) {
        p.setPen(palette().color(QPalette::Mid));
        p.drawText(rect(), Qt::AlignCenter, tr("No traffic yet"));
        return;
    }
    qint64 scale = 1;
    for (const BridgeSample &s : std::as_const(m_samples))
        scale = qMax(scale, qMax(s.aToB, s.bToA));
    const int mid = height() / 2;
    const double room = qMax(0, mid - 2);
    // The newest second sits at the right edge; older ones run off to the left.
    int x = width() - ColumnWidth * int(m_samples.size());
    for (const BridgeSample &s : std::as_const(m_samples)) {
        const int up = int(double(s.aToB) * room / double(scale));
        const int down = int(double(s.bToA) * room / double(scale));
        if (up > 0)
            p.fillRect(x, mid - up, ColumnWidth, up, QColor(0x2E, 0x86, 0xC1));
        if (down > 0)
            p.fillRect(x, mid + 1, ColumnWidth, down, QColor(0x28, 0xB4, 0x63));
        if (s.dropped > 0)
            p.fillRect(x, 0, ColumnWidth, height(), QColor(0xC0, 0x39, 0x2B, 90));
        x += ColumnWidth;
    }
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, mid, width(), mid);
}
