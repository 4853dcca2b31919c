#pragma once

#include <QString>

// What is known about the file on either side: YMODEM carries all three fields.
struct XferFileInfo
{
    QString name;
    qint64 size = -1;  // -1: unknown
    qint64 mtime = 0;  // seconds since the epoch, 0: none
};
