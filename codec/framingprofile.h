#pragma once

#include <QtGlobal>

// Byte-level shape of a legacy multi-byte encoding: which bytes start a two-byte
// character and whether GB18030's four-byte form exists. A range whose low byte
// exceeds its high byte is empty.
struct FramingProfile
{
    quint8 lead1Low = 1;
    quint8 lead1High = 0;
    quint8 lead2Low = 1;
    quint8 lead2High = 0;
    bool fourByte = false;

    bool isLead(quint8 b) const
    {
        return (b >= lead1Low && b <= lead1High) || (b >= lead2Low && b <= lead2High);
    }

    static constexpr FramingProfile none() { return {1, 0, 1, 0, false}; }
    static constexpr FramingProfile doubleByte() { return {0x81, 0xFE, 1, 0, false}; }
    static constexpr FramingProfile gb18030() { return {0x81, 0xFE, 1, 0, true}; }
    static constexpr FramingProfile big5() { return {0x81, 0xFE, 1, 0, false}; }
    static constexpr FramingProfile eucKr() { return {0x81, 0xFE, 1, 0, false}; }
    static constexpr FramingProfile shiftJis() { return {0x81, 0x9F, 0xE0, 0xFC, false}; }
};
