#pragma once

#include "device/settingsblock.h"

#include <cstdint>

class SerialChannel;

// The unit's short exchanges: handshake, disconnect, settings read and write, measurement.
// Each is one command and at most one reply taken with a single receive.
class UnitLink {
public:
    explicit UnitLink(SerialChannel &channel) : m_channel(channel) {}

    // 'U', one byte back. Returns the byte the receive yields (the transfer block's earlier
    // first byte when nothing came); accepted tells whether it was 'W'.
    std::uint8_t handshake(bool *accepted);

    // 'Z' and, when wanted, one byte back; true when the unit said 'V'.
    bool disconnect();
    void sendDisconnect();

    // 'R', then the block into `into`. Returns how many of its 512 bytes arrived.
    int readSettings(std::uint8_t *into);

    // 'S' and the whole block. False when the port did not take every byte.
    bool writeSettings(const std::uint8_t *block);

private:
    // One command, one byte back; answered tells whether `expected` really came.
    std::uint8_t ask(std::uint8_t command, std::uint8_t expected, bool *answered);

    SerialChannel &m_channel;
};
