#pragma once

#include <QList>
#include <QString>
#include <optional>

// A serial device as the system describes it: its node, the stable names udev gives it, and
// for a USB adapter the chip's identity and the socket it is plugged into. Read from the trees
// SystemTree names, so tests can make devices up.
struct SerialDevice {
    QString node;   // "/dev/ttyUSB0"
    QString byId;   // "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0"
    QString byPath; // "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
    // (Both as found: below $TARVIK2_ROOT where that is set.)
    QString driver;    // the kernel driver: "ftdi_sio"; empty when the system names none
    QString vendorId;  // the USB vendor, "0403"; empty for a device on no USB bus
    QString productId; // the USB product, "6001"
    QString serial;    // the chip's own serial; empty when it reports none (CH340)
    QString usbPort;   // the USB device's place in the bus tree, "1-2.4": the socket
    // A board UART's node that the driver found no chip for: the node is there, nothing
    // stands behind it.
    bool idleUart = false;

    bool usb() const { return !vendorId.isEmpty(); }
    QString vidPid() const; // "0403:6001"; empty for no USB device
    // The by-id name, else the by-path name; empty when udev gave none.
    QString stableName() const;

    // Whether the serial tells this adapter from every other: one is there, it is none of the
    // placeholders that whole batches of chips carry, and no other present adapter of the
    // same VID:PID reports it.
    bool serialUnique(const QList<SerialDevice> &present) const;
    // Another present adapter of the same VID:PID with the same serial; none when unique.
    std::optional<SerialDevice> serialTwin(const QList<SerialDevice> &present) const;

    // What finds this adapter again after a replug, whatever node it comes back as: its VID:PID
    // and serial where the serial is unique, else the USB socket, else the node itself.
    QString identity(const QList<SerialDevice> &present) const;

    // The device that a path names: a node, a by-id or by-path name, a COM link, followed to its
    // node. None when nothing is there.
    static std::optional<SerialDevice> describe(const QString &path);
    // Every serial device the system describes with hardware behind it: USB adapters and the
    // board's UARTs (idle UARTs left out), in the order of their entries.
    static QList<SerialDevice> present();
};
