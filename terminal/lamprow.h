#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class HLed;
class PortSession;
class QGridLayout;
class QLabel;

// The pane's row of lamps: TX and RX activity, and for serial connections the RTS,
// DTR outputs (clickable) and the CTS, DSR, DCD, RI inputs. TX is also the Break
// button: a click asserts Break for at least 300 ms, holding it keeps it asserted,
// and "BRK" stays readable for at least 800 ms.
class LampRow : public QWidget
{
    Q_OBJECT
public:
    explicit LampRow(QWidget *parent = nullptr);

    // Builds the cells into the row's grid and follows the session.
    void attach(PortSession *session);
    // Cell visibility, tooltips and cursors for the session's mode, then the lamps.
    void refreshRow();
    void refreshLamps();
    void flash(int direction);

    void pressBreak();
    void releaseBreak();

signals:
    void message(const QString &text, int timeoutMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeCell(const char *cellName, const char *ledName, const QString &label, HLed **led, QLabel **text);
    void onActivityTimeout(bool tx);
    void onBreakReleased();
    void restoreTxLamp();
    void cellPressed(QObject *cell);
    void explainRefusal();

    PortSession *m_session = nullptr;
    QGridLayout *m_grid = nullptr;
    QWidget *m_txCell = nullptr, *m_rxCell = nullptr, *m_rtsCell = nullptr, *m_ctsCell = nullptr,
            *m_dtrCell = nullptr, *m_dsrCell = nullptr, *m_dcdCell = nullptr, *m_riCell = nullptr;
    HLed *m_txLed = nullptr, *m_rxLed = nullptr, *m_rtsLed = nullptr, *m_ctsLed = nullptr, *m_dtrLed = nullptr,
         *m_dsrLed = nullptr, *m_dcdLed = nullptr, *m_riLed = nullptr;
    QLabel *m_txLabel = nullptr;
    QTimer m_rxTimer{this};
    QTimer m_txTimer{this};
    QTimer m_breakReleaseTimer{this};
    QTimer m_txRestoreTimer{this};
    bool m_rxRetrigger = false;
    bool m_txRetrigger = false;
    QElapsedTimer m_breakWatch;
};
