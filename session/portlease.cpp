#include "session/portlease.h"

PortLease::PortLease(QObject *parent)
    : QObject(parent)
{
}

bool PortLease::acquire(PortRequester holder, QString *why)
{
    QString text;
    if (m_transfer)
        text = tr("A file transfer is already running on this port.");
    else if (holder == PortRequester::Transfer && m_bridges > 0)
        text = tr("This port is part of a bridge link. Remove the link before transferring a file.");
    if (!text.isEmpty()) {
        if (why)
            *why = text;
        return false;
    }
    if (holder == PortRequester::Transfer)
        m_transfer = true;
    else if (holder == PortRequester::Bridge)
        ++m_bridges;
    emit changed();
    return true;
}

void PortLease::release(PortRequester holder)
{
    if (holder == PortRequester::Transfer && m_transfer)
        m_transfer = false;
    else if (holder == PortRequester::Bridge && m_bridges > 0)
        --m_bridges;
    else
        return;
    emit changed();
}

bool PortLease::permits(PortRequester requester, PortOperation operation, QString *why) const
{
    if (!m_transfer)
        return true;
    QString text;
    if (requester == PortRequester::Transfer) {
        if (operation != PortOperation::PortSettings)
            return true;
        text = tr("A file transfer is running.");
    } else {
        switch (operation) {
        case PortOperation::SendData:
            text = tr("A file transfer is using this port. Sending data now would corrupt it.");
            break;
        case PortOperation::ControlLines:
            text = tr("A file transfer is using this port. Changing the control lines would interrupt it.");
            break;
        case PortOperation::PortSettings:
            text = tr("A file transfer is using this port. Changing the port settings would reopen it and end the transfer.");
            break;
        case PortOperation::Pause:
            text = tr("A file transfer is running; the view cannot be paused.");
            break;
        }
    }
    if (why)
        *why = text;
    return false;
}
