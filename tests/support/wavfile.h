#pragma once

#include <QByteArray>
#include <QtEndian>

// A canonical 44-byte WAV header (PCM, mono, 8000 Hz, 16 bit) stating dataLength sample bytes.
inline QByteArray wavHeader(quint32 dataLength)
{
    QByteArray h(44, '\0');
    auto put32 = [&h](int at, quint32 v) { qToLittleEndian<quint32>(v, h.data() + at); };
    auto put16 = [&h](int at, quint16 v) { qToLittleEndian<quint16>(v, h.data() + at); };
    h.replace(0, 4, "RIFF");
    put32(4, 36 + dataLength);
    h.replace(8, 4, "WAVE");
    h.replace(12, 4, "fmt ");
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, 8000);
    put32(28, 16000);
    put16(32, 2);
    put16(34, 16);
    h.replace(36, 4, "data");
    put32(40, dataLength);
    return h;
}
