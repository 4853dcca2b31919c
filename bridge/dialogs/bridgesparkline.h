#pragma once

#include "bridge/bridgelink.h"

#include <QList>
#include <QWidget>

// The last two minutes of one bridge's traffic: A to B upwards, B to A downwards, one
// column per second with the newest at the right edge, and a red band over every
// second in which data was dropped.
class BridgeSparkline : public QWidget
{
    Q_OBJECT
public:
    static constexpr int ColumnWidth = 3;

    explicit BridgeSparkline(QWidget *parent = nullptr);

    void setSamples(const QList<BridgeSample> &samples);
    QList<BridgeSample> samples() const { return m_samples; }
    QSize sizeHint() const override { return {360, 56}; }
    QSize minimumSizeHint() const override { return {120, 48}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<BridgeSample> m_samples;
};
