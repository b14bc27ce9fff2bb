#pragma once

#include "serialline.h"
#include "unit.h"
#include "wirerecord.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

struct Options {
    std::string comDir; // with comName: keep the link comDir/comName -> the pty
    std::string comName;
    std::string stateDir;      // settings.bin survives restarts here
    std::string recordingsDir; // finished uploads as PPK1.wav, PPK2.wav, SIREN.wav
    std::string recordDir;     // rx.bin, tx.bin, wire.log
    bool fast = false;         // no line pacing
    AdapterProfile adapter;    // the USB adapter between the line and the client
    std::string sysRoot;       // describe the adapter in a system tree here (class/tty/...)
    // The USB device the pty stands for: "0403:6001", with ":SERIAL" when the chip reports one;
    // empty for none. Its socket in the bus tree (usbPort) gives the by-path name.
    std::string usb;
    std::string usbPort = "1-1";
    std::string root; // keep the udev links root/dev/serial/by-id and by-path here
};

// The simulator process: one pty, one unit, a control channel on stdin/stdout, all driven by a
// single poll loop that sleeps until the next byte is due.
class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Runs until "quit", end of stdin or a termination signal; returns the exit code.
    int run();

private:
    std::string start();
    void loop();
    void takeInput();
    std::string control(const std::vector<std::string> &words);
    std::string hangUp();
    std::string reopen();
    std::string stats() const;
    void pointLink();
    void removeLink();
    void publishAdapter();
    void withdrawAdapter();
    void say(const std::string &line);

    Options m_options;
    WireRecord m_record;
    SerialLine m_line;
    std::unique_ptr<Unit> m_unit;
    std::string m_linkPath;
    std::string m_linkTarget;
    std::vector<std::string> m_published; // what publishAdapter made, for withdrawAdapter
    std::string m_input;                  // control text not yet ended by a newline
    bool m_inputOpen = true;
    bool m_quit = false;
};

} // namespace sim
