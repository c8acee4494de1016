// The model table as the user meets it, written out once for every test that walks it: test_core
// compares the core's table with it, test_windows each window.
#pragma once

#include "cycle.h"
#include "models.h"

// A model row as one line: kind, the three panels (frame, count, captions) and the tm.rc lines of
// its timers (overtime A, B, C, acquisition A, B), then its reads (function, count, the empty
// address message, digital inputs only while acquiring).
inline QString describe(const ModelRow &r)
{
    auto panel = [](const QString &frame, const QStringList &c) {
        return c.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1%2:%3..%4").arg(frame).arg(c.size()).arg(c.first(), c.last());
    };
    QString text = QStringLiteral("%1 %2|%3|%4[%5] c%6 t%7,%8,%9,%10,%11")
                       .arg(int(r.kind)).arg(panel(r.inputFrame, r.inputCaptions), panel(r.outputFrame, r.outputCaptions))
                       .arg(r.analogFrame, r.analogCaptions.join(',')).arg(int(r.conversion))
                       .arg(r.lineOvertimeA).arg(r.lineOvertimeB).arg(r.lineOvertimeC).arg(r.lineAcquisitionA).arg(r.lineAcquisitionB);
    for (const AcquisitionCycle::Read &read : modelReads(r))
        text += QStringLiteral(" r%1:%2+%3%4%5").arg(read.function).arg(read.start).arg(read.count)
                    .arg(read.emptyAddress == AcquisitionCycle::Read::AnalogAddressMessage ? 'a' : 'd')
                    .arg(read.decodeOnlyWhileAcquiring ? "w" : "");
    return text;
}

// In the order of Main's list: the name, the row, and the objectName of the window's "Validate".
struct ModelLine {
    const char *name, *row, *validate;
};
inline const ModelLine kModelLines[] = {
    {"KV1710ADAM", "1 -|-| DS18B20 Input [DS1,DS2,DS3,DS4,DS5,DS6,DS7,DS8] c1 t1,0,0,2,0 r3:0+8a", nullptr},
    {"KV1720ADAM", "2 -|-|[] c0 t0,3,0,0,0", "Command_OK2"},
    {"KV1730ADAM", "1 -|-| Analog Input [AI_1,AI_2,AI_3,AI_4,AI_5,AI_6,AI_7,AI_8] c2 t4,0,0,5,0 r3:0+8a", nullptr},
    {"KV1740ADAM", "1 -|-| Analog Input [VI_1,VI_2,VI_3,VI_4,VI_5,VI_6,VI_7,VI_8] c3 t4,0,0,5,0 r3:0+8a", nullptr},
    {"KV5510ADAM", "0  Digital Input 8:DI_01..DI_08| Relay Output 4:RY_01..RY_04|[] c0 t6,7,0,8,0 r2:0+8dw", "Command_OK2"},
    {"KV5520ADAM", "0 -| Relay Output 8:RY_01..RY_08|[] c0 t0,9,0,0,0", "Command_OK2"},
    {"KV5530ADAM", "0  Digital Input 16:DI_01..DI_16|-|[] c0 t10,0,0,11,0 r2:0+16dw", nullptr},
    {"KV5540ADAM", "0 -| Digital Output 16:DO_01..DO_16|[] c0 t0,12,0,0,0", "Command_OK2"},
    {"KV5550ADAM", "0  Digital Input 8:DI_01..DI_08| Digital Output 8:DO_01..DO_08|[] c0 t13,14,0,15,0 r2:0+8dw", "Command_OK2"},
    {"KV7710ADAM", "3  Digital Input 4:DI_01..DI_04| Digital Output 4:DO_01..DO_04| Analog Input "
                   "[AI_1,AI_2,AI_3 ,AI_4 ,AI_5,AI_6] c2 t16,17,18,19,20 r3:0+6a r2:0+4dw", "Command_OK3"},
    {"KV7720ADAM", "3  Digital Input 4:DI_01..DI_04| Digital Output 4:DO_01..DO_04| Analog Input "
                   "[T_1,T_2,T_3 ,T_4 ] c4 t16,17,18,19,20 r3:0+4a r2:0+4dw", "Command_OK3"}};
