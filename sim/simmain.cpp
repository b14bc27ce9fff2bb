// tarvik2-sim: stands in for a TARVIK2 announcer unit on a Linux pseudo-terminal.

#include "simulator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

const char UsageText[] = R"(Usage: tarvik2-sim [options]

Stands in for a TARVIK2 announcer unit on a pseudo-terminal. Prints "ready /dev/pts/N" once the
line is up, then takes control commands on stdin, one a line, each answered with one line
"ok ..." or "error <why>". Ends on "quit", end of stdin, SIGTERM, SIGINT or SIGHUP.

Options:
  --com-dir DIR       keep the link DIR/NAME -> /dev/pts/N while running (needs --com-name)
  --com-name NAME     the link's name, e.g. COM5
  --state-dir DIR     keep the settings block in DIR/settings.bin across starts; every start
                      adds one to the launch count (offsets 4-5)
  --recordings DIR    save finished uploads as DIR/PPK1.wav, PPK2.wav, SIREN.wav
  --record DIR        record the wire: DIR/rx.bin, DIR/tx.bin (raw bytes) and DIR/wire.log
                      ("RX 55", "TX 57 ...", one line per run, at most 32 bytes a line)
  --fast              no line pacing (default: 115200 baud, 86.8 us a byte each way)
  --adapter NAME      a USB adapter between the line and the client: none (default), ftdi1,
                      ftdi16 (62-byte packets, a part-filled one sent at the next tick of a 1
                      or 16 ms latency timer), cp210x (64-byte packets, a part-filled one sent
                      after 4 ms of idle line) or ch340 (32-byte packets, after 3 character
                      times of idle line); packets reach the client on 1 ms USB frames, and
                      what the client writes starts on the line at the next frame
  --sys-root DIR      describe the adapter under DIR as a system would under /sys:
                      DIR/class/tty/pts!N/device/driver (a link naming ftdi_sio, cp210x or
                      ch341-uart) and, for FTDI, DIR/class/tty/pts!N/device/latency_timer
  --usb VID:PID[:SERIAL]  the pty stands for this USB chip: with --sys-root, its device is
                      DIR/devices/usb1/PORT/PORT:1.0/pts!N under a USB device folder that holds
                      idVendor, idProduct and (given a serial) serial
  --usb-port PORT     the USB device's place in the bus tree (default 1-1)
  --root DIR          keep udev's links as a system would under /dev/serial, in
                      DIR/dev/serial/by-id (usb-VID_PID[_SERIAL]-if00-port0) and
                      DIR/dev/serial/by-path (pci-0000:00:14.0-usb-0:PORT:1.0-port0); with --usb
  --help              this text

Control commands:
  fault none          behave normally again (clears every fault, one-shots included);
                      bytes already delayed or held back still go out
  fault silent        answer nothing; bytes are only recorded
  fault late MS       every reply starts MS milliseconds late
  fault short N       settings block and measurement replies send only their first N bytes
  fault garbage N     N junk bytes (never 55 54 57 56 FF) ahead of every reply
  fault garbage-once N  the same junk ahead of the next reply only, whatever it is
  fault split N MS    settings block and measurement replies longer than N bytes: the first N
                      go out at once, the rest after MS milliseconds of silence (replies asked
                      for meanwhile wait behind it)
  fault split-once N MS  the same for the next such reply only
  fault shift-once N MS  the next settings block or measurement reply shifted: N junk bytes
                      ahead of it, the reply cut where its own length ends on the wire (after
                      its first length - N bytes) and the rest sent after MS milliseconds
  fault tail N        settings block and measurement replies longer than N bytes: the bytes
                      after the first N are held back and go out just ahead of the next reply
                      of any kind, glued to it
  fault tail-once N   the same for the next such reply only
  fault ffonly        acknowledge upload blocks with FF alone
  fault uonly         acknowledge upload blocks with 55 alone
  fault stop-after K  acknowledge upload blocks 1..K, then nothing for the rest of the upload
  fault corrupt K     the first read after each write has K bytes from offset 100 changed
                      (the stored block is intact: a spoiled transfer)
  fault misstore K    every write is stored with K bytes from offset 100 changed (a unit
                      that keeps something else than it was sent)
  fault hangup-after K  hang up on receiving upload block K
  hangup              close the pty master now, as an adapter pulled out: its account under
                      --sys-root and its links under --root go too
  reopen              a new pty, as the adapter plugged in again (the links and the account
                      follow); answers "ok /dev/pts/M"
  measure A B C D E F fixed measurement values, 0..65535
  measure auto        varying measurement values again
  get block           answers "ok <1024 hex digits>"
  set block HEX       replaces the stored settings block (1024 hex digits)
  clear record        empties rx.bin, tx.bin and wire.log
  stats               answers "ok rx=N tx=N writes=N uploads=N queued=N held=N": bytes
                      received and sent, writes and uploads stored, bytes waiting to go out
                      (paced, late or a split's rest) and bytes held back by tail
  quit                answers "ok" and ends

Short, split and tail count the reply's own bytes, not the junk ahead of it, and leave
single-byte replies and upload acknowledgements alone. Held-back bytes are dropped only when
the line is (hangup, reopen, hangup-after).
A settings write or an upload that stalls for 1 s is dropped; nothing of it is kept.
)";

bool takeValue(int argc, char **argv, int &i, const char *name, std::string &value)
{
    const std::size_t length = std::strlen(name);
    if (std::strncmp(argv[i], name, length) != 0)
        return false;
    if (argv[i][length] == '=') {
        value = argv[i] + length + 1;
        return true;
    }
    if (argv[i][length] != '\0')
        return false;
    if (i + 1 >= argc) {
        std::fprintf(stderr, "tarvik2-sim: %s needs a value\n", name);
        std::exit(2);
    }
    value = argv[++i];
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    sim::Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--fast") == 0) {
            options.fast = true;
            continue;
        }
        std::string adapter;
        if (takeValue(argc, argv, i, "--adapter", adapter)) {
            std::optional<sim::AdapterProfile> profile = sim::AdapterProfile::named(adapter);
            if (!profile) {
                std::fprintf(stderr, "tarvik2-sim: --adapter is one of %s\n",
                             sim::AdapterProfile::names());
                return 2;
            }
            options.adapter = *profile;
            continue;
        }
        if (takeValue(argc, argv, i, "--com-dir", options.comDir) ||
            takeValue(argc, argv, i, "--sys-root", options.sysRoot) ||
            takeValue(argc, argv, i, "--usb", options.usb) ||
            takeValue(argc, argv, i, "--usb-port", options.usbPort) ||
            takeValue(argc, argv, i, "--root", options.root) ||
            takeValue(argc, argv, i, "--com-name", options.comName) ||
            takeValue(argc, argv, i, "--state-dir", options.stateDir) ||
            takeValue(argc, argv, i, "--recordings", options.recordingsDir) ||
            takeValue(argc, argv, i, "--record", options.recordDir))
            continue;
        std::fprintf(stderr, "tarvik2-sim: unknown option %s (see --help)\n", argv[i]);
        return 2;
    }
    if (options.comDir.empty() != options.comName.empty()) {
        std::fprintf(stderr, "tarvik2-sim: --com-dir and --com-name go together\n");
        return 2;
    }
    const auto hex4 = [&](std::size_t at) {
        return options.usb.size() >= at + 4 &&
               std::all_of(options.usb.begin() + long(at), options.usb.begin() + long(at + 4),
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    };
    if (!options.usb.empty() &&
        !(hex4(0) && options.usb.size() >= 9 && options.usb[4] == ':' && hex4(5) &&
          (options.usb.size() == 9 || (options.usb[9] == ':' && options.usb.size() > 10)))) {
        std::fprintf(
            stderr,
            "tarvik2-sim: --usb takes VID:PID or VID:PID:SERIAL, e.g. 0403:6001:A10K1234\n");
        return 2;
    }
    if (options.comName.find('/') != std::string::npos) {
        std::fprintf(stderr, "tarvik2-sim: --com-name is a plain name, e.g. COM5\n");
        return 2;
    }
    return sim::Simulator(options).run();
}
