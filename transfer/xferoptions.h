#pragma once

#include "transfer/xferprotocol.h"

// One transfer as the user asked for it.
struct XferOptions
{
    enum Direction : qint32 { Send = 0, Receive = 1 };

    XferProtocol protocol = Ymodem;
    qint32 direction = Send;
    qint32 blockSize = 1024;  // 128 or 1024
    qint64 receiveCap = 0;    // bytes, 0: no cap

    bool receiving() const { return direction != Send; }
};
