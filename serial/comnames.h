#pragma once

#include <QString>

// Maps the port list's "COM1" ... "COM40" to devices of this system.
//
// Windows: "\\.\COMn". Linux: a link named COMn in the COM folder wins (the folder is
// $TARVIK2_COM_DIR, else ~/.config/tarvik2/com); without one a fixed table applies:
// COM1-COM4 /dev/ttyS0-3, COM5-COM12 /dev/ttyUSB0-7, COM13-COM20 /dev/ttyACM0-7,
// COM21-COM40 /dev/ttyS4-23.
namespace ComNames {

constexpr int Count = 40;

// "COM" followed by index + 1.
QString name(int index);

// The folder searched for COMn links (Linux only; empty elsewhere).
QString linkFolder();

// The device path (or Windows device name) for a list index 0..39; empty outside.
QString devicePath(int index);

} // namespace ComNames
