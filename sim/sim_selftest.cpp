// Checks tarvik2-sim from the outside: the simulator runs as a child process, its line is
// opened the way the program opens a serial port, and every exchange goes over the real pty.
//
// Usage: sim_selftest <path of tarvik2-sim> [group]   (no group: all of them)

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string g_simPath;

// ---------------------------------------------------------------------------------------------
// Checks

struct CheckFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

template <typename... Parts> std::string cat(const Parts &...parts)
{
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

#define CHECK(condition, ...)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            throw CheckFailed(cat("line ", __LINE__, ": ", __VA_ARGS__));                          \
    } while (0)

std::string hex(const Bytes &bytes, std::size_t max = 24)
{
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += (i ? " " : "") + std::string(digits);
    }
    if (bytes.size() > max)
        text += cat(" ... (", bytes.size(), " bytes)");
    return text.empty() ? "nothing" : text;
}

long msSince(Clock::time_point start)
{
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Polls `ready` until it holds or ms have passed.
bool waitFor(const std::function<bool()> &ready, int ms = 2000)
{
    auto start = Clock::now();
    while (!ready()) {
        if (msSince(start) > ms)
            return false;
        sleepMs(5);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Test data

const Bytes FactoryHead = {
    0x03, 0x01, 0x01, 0x39, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x1E, 0x00,
    0x14, 0x03, 0xE8, 0x0D, 0xAC, 0x02, 0xBC, 0x0B, 0x54, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x02, 0x60, 0x01, 0x9C, 0x0A, 0xD1, 0x01, 0x01, 0x01, 0x00, 0x0A,
    0x32, 0x0C, 0x1C, 0x33, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// A 512-byte block that differs from the factory one and from other seeds everywhere.
Bytes pattern(int seed)
{
    Bytes block(512);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = std::uint8_t((i * 13 + std::size_t(seed) * 71 + (i >> 8)) ^ 0xA5);
    return block;
}

std::string toHex(const Bytes &bytes)
{
    std::string text;
    char digits[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> readLines(const fs::path &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::uint32_t le32(const Bytes &b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

std::uint16_t le16(const Bytes &b, std::size_t at) { return std::uint16_t(b[at] | b[at + 1] << 8); }

// A saved recording: a canonical 44-byte header, then exactly `data`.
void checkWav(const fs::path &path, const Bytes &data)
{
    CHECK(fs::exists(path), path.string(), " was not saved");
    Bytes file = readFile(path);
    CHECK(file.size() == 44 + data.size(), path.filename().string(), " is ", file.size(),
          " bytes, expected 44 + ", data.size());
    CHECK(std::string(file.begin(), file.begin() + 4) == "RIFF", "no RIFF tag");
    CHECK(le32(file, 4) == 36 + data.size(), "RIFF size ", le32(file, 4));
    CHECK(std::string(file.begin() + 8, file.begin() + 16) == "WAVEfmt ", "no WAVE/fmt tags");
    CHECK(le32(file, 16) == 16 && le16(file, 20) == 1, "fmt chunk is not 16-byte PCM");
    CHECK(le16(file, 22) == 1, "channels ", le16(file, 22));
    CHECK(le32(file, 24) == 8000, "sample rate ", le32(file, 24));
    CHECK(le32(file, 28) == le32(file, 24) * le16(file, 32), "byte rate does not match");
    CHECK(le16(file, 34) == 16, "bits per sample ", le16(file, 34));
    CHECK(std::string(file.begin() + 36, file.begin() + 40) == "data", "no data tag");
    CHECK(le32(file, 40) == data.size(), "data length ", le32(file, 40), ", expected ",
          data.size());
    CHECK(Bytes(file.begin() + 44, file.end()) == data, path.filename().string(),
          " data differs from the blocks sent");
}

// ---------------------------------------------------------------------------------------------
// Helpers around processes, folders and the line

class TempDir {
public:
    TempDir()
    {
        char name[] = "/tmp/sim_selftest.XXXXXX";
        CHECK(mkdtemp(name) != nullptr, "mkdtemp: ", std::strerror(errno));
        m_path = name;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return (m_path / name).string(); }
    operator std::string() const { return m_path.string(); }

private:
    fs::path m_path;
};

// Runs the simulator to its end and returns its exit status and what it printed.
std::pair<int, std::string> runToEnd(const std::vector<std::string> &args)
{
    int out[2];
    CHECK(pipe(out) == 0, "pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        std::vector<char *> argv{g_simPath.data()};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(g_simPath.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

// A running simulator with its control channel.
class Sim {
public:
    explicit Sim(const std::vector<std::string> &args)
    {
        int in[2], out[2];
        CHECK(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0, "pipe2");
        m_pid = fork();
        CHECK(m_pid >= 0, "fork");
        if (m_pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            std::vector<char *> argv{g_simPath.data()};
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(g_simPath.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
        try {
            std::string line = readLine(5000);
            CHECK(line.rfind("ready /dev/pts/", 0) == 0, "first line was \"", line,
                  "\", expected \"ready /dev/pts/N\"");
            m_pts = line.substr(6);
        } catch (...) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            close(m_in);
            close(m_out);
            throw;
        }
    }

    ~Sim()
    {
        if (m_in >= 0)
            close(m_in); // end of input: the simulator quits
        if (m_pid > 0 && waitExit(3000) == -2) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }

    Sim(const Sim &) = delete;
    Sim &operator=(const Sim &) = delete;

    const std::string &pts() const { return m_pts; }
    pid_t pid() const { return m_pid; }

    std::string readLine(int ms)
    {
        auto start = Clock::now();
        for (;;) {
            std::size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            int left = ms - int(msSince(start));
            CHECK(left > 0, "no line from the simulator within ", ms, " ms (have \"", m_buffer,
                  "\")");
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                continue;
            char buffer[4096];
            ssize_t n = read(m_out, buffer, sizeof buffer);
            CHECK(n > 0, "the simulator closed its output (have \"", m_buffer, "\")");
            m_buffer.append(buffer, std::size_t(n));
        }
    }

    std::string command(const std::string &line)
    {
        std::string text = line + "\n";
        CHECK(write(m_in, text.data(), text.size()) == ssize_t(text.size()),
              "cannot write to the simulator");
        return readLine(3000);
    }

    void ok(const std::string &line)
    {
        std::string reply = command(line);
        CHECK(reply == "ok", "\"", line, "\" answered \"", reply, "\"");
    }

    // One number of the "stats" reply.
    long stat(const std::string &key)
    {
        std::string reply = command("stats");
        CHECK(reply.rfind("ok ", 0) == 0, "stats answered \"", reply, "\"");
        std::size_t at = reply.find(" " + key + "=");
        CHECK(at != std::string::npos, "stats has no ", key, ": \"", reply, "\"");
        return std::stol(reply.substr(at + key.size() + 2));
    }

    void waitStat(const std::string &key, long value, int ms = 2000)
    {
        bool reached = waitFor([&] { return stat(key) == value; }, ms);
        CHECK(reached, "stats ", key, " stayed at ", stat(key), ", expected ", value);
    }

    void closeInput()
    {
        close(m_in);
        m_in = -1;
    }

    // The exit status, -1 for a death by signal, -2 if still running after ms.
    int waitExit(int ms)
    {
        auto start = Clock::now();
        for (;;) {
            int status = 0;
            pid_t done = waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (msSince(start) > ms)
                return -2;
            sleepMs(5);
        }
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_pts;
    std::string m_buffer;
};

// The client's end of the line, opened like a serial port: raw, no controlling terminal.
class Port {
public:
    explicit Port(const std::string &path)
    {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        CHECK(m_fd >= 0, "cannot open ", path, ": ", std::strerror(errno));
        termios tio{};
        CHECK(tcgetattr(m_fd, &tio) == 0, path, " is not a terminal");
        cfmakeraw(&tio);
        cfsetspeed(&tio, B115200);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~Port() { close(m_fd); }
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    void send(const Bytes &bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EAGAIN) {
                pollfd p{m_fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            CHECK(n > 0, "write to the line failed: ", std::strerror(errno));
            done += std::size_t(n);
        }
    }

    // Up to n bytes, whatever has come when ms have passed.
    Bytes receive(std::size_t n, int ms)
    {
        Bytes got;
        auto start = Clock::now();
        while (got.size() < n) {
            int left = ms - int(msSince(start));
            if (left <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                continue;
            std::uint8_t buffer[4096];
            ssize_t r = read(m_fd, buffer, std::min(sizeof buffer, n - got.size()));
            if (r <= 0)
                break;
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }

    // Everything that comes within ms.
    Bytes receiveFor(int ms) { return receive(1 << 20, ms); }

    // Sends a request and checks the exact reply.
    void exchange(const Bytes &request, const Bytes &reply, const std::string &what)
    {
        send(request);
        Bytes got = receive(reply.size(), 2000);
        CHECK(got == reply, what, ": got ", hex(got), ", expected ", hex(reply));
    }

    // True once the other side has hung up (the slave reports a hang-up or end of file).
    bool dropped(int ms)
    {
        auto start = Clock::now();
        while (msSince(start) < ms) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            if (p.revents & POLLHUP)
                return true;
            std::uint8_t buffer[256];
            ssize_t r = read(m_fd, buffer, sizeof buffer);
            if (r == 0 || (r < 0 && errno == EIO))
                return true;
        }
        return false;
    }

private:
    int m_fd = -1;
};

Bytes readBlock(Port &port)
{
    port.send({'R'});
    Bytes block = port.receive(512, 2000);
    CHECK(block.size() == 512, "'R' brought ", block.size(), " bytes, expected 512");
    return block;
}

void writeBlock(Sim &sim, Port &port, const Bytes &block)
{
    long before = sim.stat("writes");
    port.send(Bytes{'S'} + block);
    sim.waitStat("writes", before + 1);
}

// 0x60 or 0x70 up to the 'T': counts are 16-bit big endian.
void openUpload(Port &port, std::uint8_t command, const std::vector<int> &counts)
{
    port.exchange({command}, {'U'}, "upload command");
    Bytes countBytes;
    for (int c : counts) {
        countBytes.push_back(std::uint8_t(c >> 8));
        countBytes.push_back(std::uint8_t(c));
    }
    port.exchange(countBytes, {'T'}, "block counts");
}

void sendBlocks(Port &port, const std::vector<Bytes> &blocks)
{
    for (std::size_t i = 0; i < blocks.size(); ++i)
        port.exchange(blocks[i], {'U', 0xFF}, cat("acknowledgement of block ", i + 1));
}

// ---------------------------------------------------------------------------------------------
// Groups of cases

void testHandshake()
{
    Sim sim({"--fast"});
    Port port(sim.pts());

    port.exchange({'U'}, {'W'}, "handshake");
    port.exchange({'Z'}, {'V'}, "disconnect");
    port.exchange({'U', 'Z'}, {'W', 'V'}, "two commands in one write");

    port.send({0x00, 0x99, 0x57, 0xFF, 0x54});
    Bytes stray = port.receiveFor(200);
    CHECK(stray.empty(), "bytes that are no command were answered with ", hex(stray));
    port.exchange({'U'}, {'W'}, "handshake after ignored bytes");

    CHECK(sim.stat("rx") == 10, "stats rx counts every byte received");
    CHECK(sim.stat("tx") == 5, "stats tx counts every byte sent");

    for (const char *bad :
         {"bogus", "fault", "fault late", "fault late x", "fault corrupt 0", "fault corrupt 413",
          "fault split 5", "fault split 0 10", "measure 1 2", "set block 00", "get"}) {
        std::string reply = sim.command(bad);
        CHECK(reply.rfind("error ", 0) == 0, "\"", bad, "\" answered \"", reply, "\"");
    }
    sim.ok("fault none");
}

void testSettings()
{
    Sim sim({"--fast"});
    Port port(sim.pts());

    Bytes factory = readBlock(port);
    CHECK(Bytes(factory.begin(), factory.begin() + 50) == FactoryHead,
          "offsets 0..49 are not the factory values: ", hex(factory, 50));
    CHECK(factory[4] == 0 && factory[5] == 1, "launch count of a fresh unit is not 1");
    Bytes tail(factory.begin() + 50, factory.end());
    std::sort(tail.begin(), tail.end());
    auto distinct = std::unique(tail.begin(), tail.end()) - tail.begin();
    CHECK(distinct >= 100, "offsets 50..511 hold only ", distinct, " distinct values");
    CHECK(sim.command("get block") == "ok " + toHex(factory), "get block differs from 'R'");

    Bytes written = pattern(1);
    writeBlock(sim, port, written);
    CHECK(readBlock(port) == written, "read-back after a write differs");
    CHECK(sim.command("get block") == "ok " + toHex(written), "get block misses the write");

    // A write followed at once by a read: the bytes after the 512 are commands again.
    Bytes second = pattern(2);
    port.send(Bytes{'S'} + second + Bytes{'R'});
    Bytes back = port.receive(512, 2000);
    CHECK(back == second, "'R' right after the write's 512 bytes brought ", hex(back));

    Bytes set = pattern(3);
    sim.ok("set block " + toHex(set));
    CHECK(readBlock(port) == set, "'R' after set block differs");

    // An incomplete write is dropped after 1 s of silence. Its bytes are 'U's: taken as
    // commands they would be answered.
    long writes = sim.stat("writes");
    port.send(Bytes{'S'} + Bytes(100, 'U'));
    Bytes during = port.receiveFor(1300);
    CHECK(during.empty(), "an incomplete write was answered with ", hex(during));
    port.exchange({'U'}, {'W'}, "handshake after a dropped write");
    CHECK(readBlock(port) == set, "an incomplete write changed the stored block");
    CHECK(sim.stat("writes") == writes, "an incomplete write was counted");
}

void testState()
{
    TempDir state;
    Bytes kept = pattern(4);
    {
        Sim sim({"--fast", "--state-dir", state});
        Port port(sim.pts());
        Bytes first = readBlock(port);
        CHECK(Bytes(first.begin(), first.begin() + 50) == FactoryHead,
              "first start with an empty state folder is not the factory block");
        CHECK(fs::file_size(state.path() / "settings.bin") == 512, "settings.bin not 512 bytes");
        kept[4] = 0x12;
        kept[5] = 0x34;
        writeBlock(sim, port, kept);
        CHECK(readFile(state.path() / "settings.bin") == kept, "the write was not kept");
        sim.ok("quit");
        CHECK(sim.waitExit(3000) == 0, "quit did not end the simulator with status 0");
    }
    {
        Sim sim({"--fast", "--state-dir", state});
        Port port(sim.pts());
        Bytes expected = kept;
        expected[5] = 0x35;
        Bytes again = readBlock(port);
        CHECK(again == expected, "after a restart: launch count ", again[4] * 256 + again[5],
              " (expected 0x1235) or other bytes differ: ", hex(again, 8));
        CHECK(readFile(state.path() / "settings.bin") == expected,
              "the new launch count was not kept");
    }
    for (int start = 0; start < 2; ++start) {
        Sim sim({"--fast"});
        Port port(sim.pts());
        Bytes block = readBlock(port);
        CHECK(block[4] == 0 && block[5] == 1, "without a state folder start ", start + 1,
              " has launch count ", block[4] * 256 + block[5]);
    }
}

void testMeasure()
{
    Sim sim({"--fast"});
    Port port(sim.pts());

    sim.ok("measure 1 2 3 4095 65535 300");
    port.exchange({0x10}, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x0F, 0xFF, 0xFF, 0xFF, 0x01, 0x2C},
                  "fixed measurement");
    port.exchange({0x10, 0x10},
                  Bytes{0x00, 0x01} + Bytes{0x00, 0x02, 0x00, 0x03, 0x0F, 0xFF} +
                      Bytes{0xFF, 0xFF, 0x01, 0x2C, 0x00, 0x01, 0x00, 0x02} +
                      Bytes{0x00, 0x03, 0x0F, 0xFF, 0xFF, 0xFF, 0x01, 0x2C},
                  "two requests in a row");
    for (const char *bad :
         {"measure 1 2 3 4 5 65536", "measure a b c d e f", "measure -1 2 3 4 5 6"})
        CHECK(sim.command(bad).rfind("error ", 0) == 0, "\"", bad, "\" was accepted");

    sim.ok("measure auto");
    auto values = [&] {
        port.send({0x10});
        Bytes reply = port.receive(12, 1000);
        CHECK(reply.size() == 12, "measurement reply of ", reply.size(), " bytes");
        std::vector<int> v;
        for (int i = 0; i < 6; ++i)
            v.push_back(reply[2 * i] << 8 | reply[2 * i + 1]);
        return v;
    };
    std::vector<int> a = values();
    sleepMs(300);
    std::vector<int> b = values();
    for (int i = 0; i < 6; ++i) {
        CHECK(a[i] <= 4095 && b[i] <= 4095, "value ", i + 1, " outside 0..4095: ", a[i], ", ",
              b[i]);
        CHECK(std::abs(a[i] - b[i]) <= 100, "value ", i + 1, " jumped from ", a[i], " to ", b[i],
              " in 300 ms");
    }
    CHECK(a != b, "varying values did not change in 300 ms");
    CHECK(a[4] >= 600 && a[4] <= 1000, "LIGHT ", a[4], " is not around 800");
    CHECK(a[5] >= 2300 && a[5] <= 2500, "POWER ", a[5], " is not around 2400");
}

void testUpload()
{
    TempDir recordings;
    Sim sim({"--fast", "--recordings", recordings});
    Port port(sim.pts());
    const fs::path dir = recordings.path();

    std::vector<Bytes> ppk1 = {pattern(10), pattern(11), pattern(12)};
    openUpload(port, 0x60, {3, 0});
    sendBlocks(port, ppk1);
    sim.waitStat("uploads", 1);
    checkWav(dir / "PPK1.wav", ppk1[0] + ppk1[1] + ppk1[2]);
    checkWav(dir / "PPK2.wav", {});

    std::vector<Bytes> siren = {pattern(20), pattern(21)};
    openUpload(port, 0x70, {2});
    sendBlocks(port, siren);
    sim.waitStat("uploads", 2);
    checkWav(dir / "SIREN.wav", siren[0] + siren[1]);

    // The split between the two messages follows the first count.
    std::vector<Bytes> both = {pattern(30), pattern(31), pattern(32)};
    openUpload(port, 0x60, {1, 2});
    sendBlocks(port, both);
    sim.waitStat("uploads", 3);
    checkWav(dir / "PPK1.wav", both[0]);
    checkWav(dir / "PPK2.wav", both[1] + both[2]);

    openUpload(port, 0x70, {0});
    sim.waitStat("uploads", 4);
    checkWav(dir / "SIREN.wav", {});
    port.exchange({'U'}, {'W'}, "handshake after an empty upload");
}

void testStall()
{
    TempDir recordings;
    Sim sim({"--fast", "--recordings", recordings});
    Port port(sim.pts());

    openUpload(port, 0x70, {2});
    sendBlocks(port, {pattern(40)});
    port.send(Bytes(256, 'U')); // half a block, then silence
    Bytes during = port.receiveFor(1300);
    CHECK(during.empty(), "a stalled upload was answered with ", hex(during));
    port.exchange({'U'}, {'W'}, "handshake after a stalled upload");
    CHECK(!fs::exists(recordings.path() / "SIREN.wav"), "a stalled upload was saved");
    CHECK(sim.stat("uploads") == 0, "a stalled upload was counted");

    // Stalled in the middle of the counts.
    port.exchange({0x60}, {'U'}, "upload command");
    port.send({0x00, 0x01});
    sleepMs(1300);
    port.exchange({'U'}, {'W'}, "handshake after stalled counts");
}

void testRecord()
{
    TempDir record;
    Sim sim({"--fast", "--record", record});
    Port port(sim.pts());
    const fs::path dir = record.path();

    port.exchange({'U'}, {'W'}, "handshake");
    port.exchange({'Z'}, {'V'}, "disconnect");
    CHECK(readFile(dir / "rx.bin") == (Bytes{'U', 'Z'}), "rx.bin: ", hex(readFile(dir / "rx.bin")));
    CHECK(readFile(dir / "tx.bin") == (Bytes{'W', 'V'}), "tx.bin: ", hex(readFile(dir / "tx.bin")));
    std::vector<std::string> lines = readLines(dir / "wire.log");
    CHECK((lines == std::vector<std::string>{"RX 55", "TX 57", "RX 5A", "TX 56"}), "wire.log has ",
          lines.size(), " lines, first \"", lines.empty() ? "" : lines[0], "\"");

    sim.ok("clear record");
    for (const char *name : {"rx.bin", "tx.bin", "wire.log"})
        CHECK(fs::file_size(dir / name) == 0, name, " not emptied by clear record");

    Bytes block = readBlock(port);
    lines = readLines(dir / "wire.log");
    CHECK(lines.size() == 17 && lines[0] == "RX 52", "a block read logged ", lines.size(),
          " lines, expected \"RX 52\" and 16 lines of 32 bytes");
    Bytes logged;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream words(lines[i]);
        std::string direction, byte;
        words >> direction;
        CHECK(direction == "TX", "line ", i + 1, " of wire.log: \"", lines[i], "\"");
        int count = 0;
        while (words >> byte) {
            logged.push_back(std::uint8_t(std::stoi(byte, nullptr, 16)));
            ++count;
        }
        CHECK(count == 32, "line ", i + 1, " of wire.log holds ", count, " bytes");
    }
    CHECK(logged == block, "wire.log bytes differ from the block received");
    CHECK(readFile(dir / "tx.bin") == block, "tx.bin differs from the block received");

    // While silent, bytes are still recorded.
    sim.ok("fault silent");
    port.send({'U'});
    CHECK(waitFor([&] {
              return readFile(dir / "rx.bin") == (Bytes{'R', 'U'});
          }),
          "a byte received while silent is missing from rx.bin");
    CHECK(readLines(dir / "wire.log").back() == "RX 55", "wire.log lacks the last byte");
}

void testPacing()
{
    auto best = [](int tries, const std::function<long()> &measure) {
        long least = 1L << 30;
        for (int i = 0; i < tries; ++i)
            least = std::min(least, measure());
        return least;
    };
    auto blockRead = [](Port &port) {
        return [&port] {
            auto start = Clock::now();
            readBlock(port);
            return msSince(start);
        };
    };
    // 'S', 512 bytes and 'U' in one write: the 'W' can come only after all of them have
    // crossed the line.
    auto writeThenHandshake = [](Port &port) {
        return [&port] {
            auto start = Clock::now();
            port.exchange(Bytes{'S'} + pattern(5) + Bytes{'U'}, {'W'}, "handshake after a write");
            return msSince(start);
        };
    };
    {
        Sim sim({});
        Port port(sim.pts());
        long read = blockRead(port)();
        CHECK(read >= 40 && read < 1000, "a 512-byte block took ", read,
              " ms at line rate, expected about 44");
        long write = writeThenHandshake(port)();
        CHECK(write >= 40 && write < 1000, "513 bytes were taken in ", write,
              " ms at line rate, expected about 45");
        long single = best(3, [&] {
            auto start = Clock::now();
            port.exchange({'U'}, {'W'}, "handshake");
            return msSince(start);
        });
        CHECK(single < 10, "a handshake took ", single, " ms, a client waits only 10");
    }
    {
        Sim sim({"--fast"});
        Port port(sim.pts());
        long read = best(3, blockRead(port));
        CHECK(read < 35, "a 512-byte block took ", read, " ms with --fast");
        long write = best(3, writeThenHandshake(port));
        CHECK(write < 35, "513 bytes were taken in ", write, " ms with --fast");
    }
}

void testLink()
{
    TempDir com;
    const std::string link = com / "COM5";
    CHECK(symlink("/nonexistent", link.c_str()) == 0, "cannot make a stale link");
    auto target = [&] { return fs::is_symlink(link) ? fs::read_symlink(link).string() : ""; };

    {
        Sim sim({"--fast", "--com-dir", com, "--com-name", "COM5"});
        CHECK(target() == sim.pts(), "COM5 points to \"", target(), "\", not ", sim.pts());
        Port port(link);
        port.exchange({'U'}, {'W'}, "handshake through the link");
        sim.ok("quit");
        CHECK(sim.waitExit(3000) == 0, "quit: exit status not 0");
        CHECK(!fs::is_symlink(link), "the link outlived quit");
    }
    {
        Sim sim({"--fast", "--com-dir", com, "--com-name", "COM5"});
        CHECK(target() == sim.pts(), "link not made on the second start");
        kill(sim.pid(), SIGTERM);
        CHECK(sim.waitExit(3000) == 0, "SIGTERM: exit status not 0");
        CHECK(!fs::is_symlink(link), "the link outlived SIGTERM");
    }
    {
        Sim sim({"--fast", "--com-dir", com, "--com-name", "COM5"});
        sim.closeInput();
        CHECK(sim.waitExit(3000) == 0, "end of input: exit status not 0");
        CHECK(!fs::is_symlink(link), "the link outlived the end of input");
    }

    auto [status, text] = runToEnd({"--help"});
    CHECK(status == 0, "--help exit status ", status);
    for (const char *word :
         {"--com-dir",   "--com-name",       "--state-dir",   "--recordings",
          "--record",    "--fast",           "fault none",    "fault silent",
          "fault late",  "fault short",      "fault garbage", "fault ffonly",
          "fault uonly", "fault stop-after", "fault corrupt", "fault hangup-after",
          "hangup",      "reopen",           "measure auto",  "get block",
          "set block",   "clear record",     "stats",         "quit"})
        CHECK(text.find(word) != std::string::npos, "--help does not mention ", word);
    for (const char *word : {"fault garbage-once", "fault split ", "fault split-once",
                             "fault tail ", "fault tail-once", "queued=", "held="})
        CHECK(text.find(word) != std::string::npos, "--help does not mention ", word);
    CHECK(runToEnd({"--no-such-option"}).first == 2, "an unknown option is not refused");
}

void testFaults()
{
    TempDir recordings;
    TempDir record;
    Sim sim({"--fast", "--recordings", recordings, "--record", record});
    Port port(sim.pts());
    const Bytes forbidden = {0x55, 0x54, 0x57, 0x56, 0xFF};

    // silent: nothing is answered or stored, but every byte is still received.
    sim.ok("fault silent");
    long rx = sim.stat("rx");
    port.send(Bytes{'U', 'R', 0x10, 'S'} + pattern(6));
    Bytes quiet = port.receiveFor(300);
    CHECK(quiet.empty(), "a silent unit sent ", hex(quiet));
    CHECK(sim.stat("rx") == rx + 516, "bytes received while silent were not counted");
    CHECK(sim.stat("writes") == 0, "a silent unit stored a write");
    sim.ok("fault none");
    port.exchange({'U'}, {'W'}, "handshake after fault none");

    // late: the reply starts the given time after the request.
    sim.ok("fault late 300");
    auto start = Clock::now();
    port.send({'U'});
    Bytes late = port.receive(1, 2000);
    long elapsed = msSince(start);
    CHECK(late == Bytes{'W'} && elapsed >= 290 && elapsed < 1500, "late 300: got ", hex(late),
          " after ", elapsed, " ms");
    sim.ok("fault none");

    // garbage: junk that nobody waits for comes first.
    sim.ok("fault garbage 4");
    port.send({'U'});
    Bytes junk = port.receive(5, 1000);
    CHECK(junk.size() == 5 && junk[4] == 'W', "garbage 4: got ", hex(junk));
    for (int i = 0; i < 4; ++i)
        CHECK(std::find(forbidden.begin(), forbidden.end(), junk[i]) == forbidden.end(),
              "garbage byte ", hex({junk[i]}), " could pass for a reply");
    port.send({'R'});
    Bytes block = port.receive(516, 1000);
    CHECK(block.size() == 516 && Bytes(block.begin() + 4, block.begin() + 54) == FactoryHead,
          "garbage 4 before a block: got ", hex(block));
    sim.ok("fault none");

    // short: the block and the measurement are cut, single-byte replies are not.
    sim.ok("fault short 5");
    port.send({'R'});
    Bytes cut = port.receive(512, 500);
    CHECK(cut == Bytes(FactoryHead.begin(), FactoryHead.begin() + 5), "short 5 on 'R': got ",
          hex(cut));
    port.send({0x10});
    cut = port.receive(12, 500);
    CHECK(cut.size() == 5, "short 5 on a measurement: got ", cut.size(), " bytes");
    sim.ok("fault short 0");
    port.send({'R'});
    cut = port.receive(512, 300);
    CHECK(cut.empty(), "short 0 on 'R': got ", hex(cut));
    port.exchange({'U'}, {'W'}, "handshake with short 0");
    sim.ok("fault none");

    // ffonly: blocks are acknowledged with 0xFF alone; the upload still completes.
    sim.ok("fault ffonly");
    openUpload(port, 0x70, {1});
    port.send(pattern(7));
    Bytes ack = port.receive(2, 500);
    CHECK(ack == Bytes{0xFF}, "ffonly: block acknowledged with ", hex(ack));
    sim.waitStat("uploads", 1);
    checkWav(recordings.path() / "SIREN.wav", pattern(7));
    sim.ok("fault none");

    // uonly: blocks are acknowledged with 'U' alone.
    sim.ok("fault uonly");
    openUpload(port, 0x70, {1});
    port.send(pattern(8));
    ack = port.receive(2, 500);
    CHECK(ack == Bytes{0x55}, "uonly: block acknowledged with ", hex(ack));
    sim.waitStat("uploads", 2);
    sim.ok("fault none");

    // corrupt: only the first read after a write is spoiled; the stored block is intact.
    sim.ok("fault corrupt 3");
    Bytes written = pattern(8);
    writeBlock(sim, port, written);
    Bytes spoiled = readBlock(port);
    for (std::size_t i = 0; i < 512; ++i) {
        bool changed = i >= 100 && i < 103;
        std::uint8_t expected = changed ? std::uint8_t(written[i] ^ 0x5A) : written[i];
        CHECK(spoiled[i] == expected, "corrupt 3: offset ", i, " is ", int(spoiled[i]),
              ", expected ", int(expected));
    }
    CHECK(readBlock(port) == written, "corrupt 3: the second read is spoiled too");
    CHECK(sim.command("get block") == "ok " + toHex(written), "corrupt 3 changed the store");
    sim.ok("fault none");

    // garbage-once: junk ahead of one reply, of any kind.
    sim.ok("fault garbage-once 3");
    port.send({'U'});
    junk = port.receive(4, 1000);
    CHECK(junk.size() == 4 && junk[3] == 'W' &&
              std::find_first_of(junk.begin(), junk.begin() + 3, forbidden.begin(),
                                 forbidden.end()) == junk.begin() + 3,
          "garbage-once 3: got ", hex(junk));
    port.exchange({'U'}, {'W'}, "the handshake after garbage-once");

    // split-once: the head at once, the rest after the gap; the record and the counts hold
    // only what has gone out. The next reply is whole.
    sim.ok("clear record");
    sim.ok("fault split-once 5 1500");
    start = Clock::now();
    port.send({'R'});
    Bytes head = port.receive(5, 1000);
    CHECK(head == Bytes(written.begin(), written.begin() + 5), "split-once 5: head ", hex(head));
    CHECK(sim.stat("queued") == 507 && readFile(record.path() / "tx.bin") == head,
          "split-once 5: the rest went out with the head, or the record has it early");
    Bytes rest = port.receive(507, 4000);
    elapsed = msSince(start);
    CHECK(head + rest == written && elapsed >= 1500, "split-once 5 1500: rest of ", rest.size(),
          " bytes after ", elapsed, " ms");
    CHECK(readFile(record.path() / "tx.bin") == written, "split-once: tx.bin differs");
    port.send({'R'});
    CHECK(port.receive(512, 1000) == written, "split-once split the second read as well");

    // split: every measurement, each after the gap.
    sim.ok("measure 1 2 3 4 5 6");
    const Bytes values = {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6};
    sim.ok("fault split 6 200");
    for (int i = 0; i < 2; ++i) {
        start = Clock::now();
        port.exchange({0x10}, values, "split 6 200");
        CHECK(msSince(start) >= 200, "split 6 200: measurement ", i + 1, " had no gap");
    }
    sim.ok("fault none");

    // tail: a reply's tail comes glued ahead of the next reply of any kind, even after fault
    // none; tail-once spoils one reply and, with its tail, the one after it.
    auto part = [&](std::size_t from, std::size_t to) {
        return Bytes(values.begin() + std::ptrdiff_t(from), values.begin() + std::ptrdiff_t(to));
    };
    sim.ok("fault tail 4");
    port.send({0x10});
    Bytes first = port.receiveFor(300);
    CHECK(first == part(0, 4) && sim.stat("held") == 8, "tail 4: got ", hex(first));
    port.exchange({0x10}, part(4, 12) + part(0, 4), "tail 4: the second measurement");
    sim.ok("fault none");
    port.exchange({'U'}, part(4, 12) + Bytes{'W'}, "tail 4: the handshake after fault none");
    port.exchange({'U'}, {'W'}, "the handshake once the held bytes have gone");
    sim.ok("fault tail-once 10");
    port.exchange({0x10}, part(0, 10), "tail-once 10: the first measurement");
    port.exchange({0x10}, part(10, 12) + values, "tail-once 10: the second measurement");
    port.exchange({0x10}, values, "tail-once 10: the third measurement");
    CHECK(sim.stat("held") == 0 && sim.stat("queued") == 0, "bytes left over after tail-once");
}

void testStopAfter()
{
    TempDir recordings;
    Sim sim({"--fast", "--recordings", recordings});
    Port port(sim.pts());

    sim.ok("fault stop-after 1");
    openUpload(port, 0x70, {3});
    sendBlocks(port, {pattern(50)});
    port.send(pattern(51));
    Bytes none = port.receiveFor(300);
    CHECK(none.empty(), "block 2 was acknowledged after stop-after 1: ", hex(none));
    port.send(pattern(52));
    none = port.receiveFor(1300);
    CHECK(none.empty(), "the unit spoke after stop-after 1: ", hex(none));
    port.exchange({'U'}, {'W'}, "handshake after the abandoned upload");
    CHECK(!fs::exists(recordings.path() / "SIREN.wav"), "an abandoned upload was saved");
    CHECK(sim.stat("uploads") == 0, "an abandoned upload was counted");

    sim.ok("fault none");
    openUpload(port, 0x70, {1});
    sendBlocks(port, {pattern(53)});
    sim.waitStat("uploads", 1);
    checkWav(recordings.path() / "SIREN.wav", pattern(53));
}

void testHangup()
{
    TempDir com;
    TempDir recordings;
    const std::string link = com / "COM5";
    Sim sim({"--fast", "--com-dir", com, "--com-name", "COM5", "--recordings", recordings});
    {
        Port port(sim.pts());
        port.exchange({'U'}, {'W'}, "handshake");
        sim.ok("hangup");
        CHECK(port.dropped(1000), "the client did not see the hang-up");
        CHECK(sim.stat("rx") == 1, "control does not answer after a hang-up");
    }

    std::string reply = sim.command("reopen");
    CHECK(reply.rfind("ok /dev/pts/", 0) == 0, "reopen answered \"", reply, "\"");
    const std::string pts = reply.substr(3);
    CHECK(fs::read_symlink(link).string() == pts, "the link was not moved to ", pts);
    {
        Port port(link);
        port.exchange({'U'}, {'W'}, "handshake on the reopened line");

        sim.ok("fault hangup-after 1");
        openUpload(port, 0x70, {2});
        port.send(pattern(60));
        CHECK(port.dropped(1000), "no hang-up on receiving block 1");
    }
    CHECK(sim.stat("uploads") == 0, "the upload cut by the hang-up was counted");
    CHECK(!fs::exists(recordings.path() / "SIREN.wav"), "the upload cut by the hang-up was saved");

    sim.ok("fault none");
    reply = sim.command("reopen");
    CHECK(reply.rfind("ok /dev/pts/", 0) == 0, "second reopen answered \"", reply, "\"");
    Port port(reply.substr(3));
    port.exchange({'U'}, {'W'}, "handshake after the second reopen");
}

// Adapters: replies reach the client in packets at the chips' pace, the system tree describes
// the adapter for as long as the line is up, and the faults that shift or misstore a block.
void testAdapter()
{
    // Delivery of a one-byte reply: within a frame with no adapter or a 1 ms timer; behind a
    // 16 ms timer it waits for the timer's next tick, wherever that stands.
    auto answerTimes = [](Port &port) {
        std::vector<long> times;
        for (int i = 0; i < 24; ++i) {
            auto start = Clock::now();
            port.exchange({'U'}, {'W'}, "handshake through the adapter");
            times.push_back(
                long(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start)
                         .count()));
            sleepMs(1 + i % 5);
        }
        std::sort(times.begin(), times.end());
        return times;
    };
    {
        TempDir sys;
        Sim sim({"--fast", "--adapter", "ftdi16", "--sys-root", sys});
        const fs::path entry =
            sys.path() / "class" / "tty" / ("pts!" + sim.pts().substr(9)) / "device";
        CHECK(fs::read_symlink(entry / "driver").filename() == "ftdi_sio",
              "ftdi16: the driver link is missing or wrong under ", entry);
        std::ifstream timer(entry / "latency_timer");
        int latency = 0;
        timer >> latency;
        CHECK(latency == 16, "ftdi16: latency_timer reads ", latency);
        Port port(sim.pts());
        std::vector<long> times = answerTimes(port);
        CHECK(times.back() >= 8000 && times.back() < 40000, "ftdi16: the slowest answer took ",
              times.back(), " us, expected up to about 17 ms");
        CHECK(times.front() < times.back() - 4000,
              "ftdi16: every answer took about as long; the timer does not run on its own");
        // A block: nine full packets go as they fill, the last part-filled one at a tick.
        auto start = Clock::now();
        Bytes block = readBlock(port);
        CHECK(block.size() == 512 && msSince(start) < 60, "ftdi16: a block took ", msSince(start),
              " ms");
        std::string reopened = sim.command("reopen");
        CHECK(!fs::exists(entry), "reopen left the old line's entry under ", sys.path());
        CHECK(fs::exists(sys.path() / "class" / "tty" / ("pts!" + reopened.substr(12)) / "device" /
                         "latency_timer"),
              "reopen did not describe the new line");
    }
    {
        Sim sim({"--fast", "--adapter", "ch340"});
        Port port(sim.pts());
        std::vector<long> times = answerTimes(port);
        CHECK(times.back() < 10000, "ch340: the slowest answer took ", times.back(), " us");
    }

    Sim sim({"--fast"});
    Port port(sim.pts());
    // shift-once: the junk and the reply's head fill exactly its length; the rest follows
    // after the gap.
    Bytes unit = readBlock(port);
    sim.ok("fault shift-once 5 40");
    port.send({'R'});
    Bytes first = port.receive(512, 1000);
    Bytes early = port.receiveFor(20);
    Bytes rest = port.receive(5, 500);
    CHECK(first.size() == 512 &&
              Bytes(first.begin() + 5, first.end()) == Bytes(unit.begin(), unit.begin() + 507),
          "shift-once 5 40: the first 512 bytes are not 5 junk and the block's head");
    CHECK(early.empty(), "shift-once 5 40: the tail came before its gap: ", hex(early));
    CHECK(rest == Bytes(unit.begin() + 507, unit.end()), "shift-once 5 40: the tail is ",
          hex(rest));
    CHECK(readBlock(port) == unit, "shift-once: the reply after it is shifted too");
    CHECK(sim.command("fault shift-once 0 1").rfind("error", 0) == 0, "shift-once 0 was accepted");

    // misstore: what the unit keeps is not what it was sent, and every read shows it.
    sim.ok("fault misstore 2");
    Bytes written = pattern(9);
    writeBlock(sim, port, written);
    Bytes kept = written;
    kept[100] ^= 0x5A;
    kept[101] ^= 0x5A;
    CHECK(readBlock(port) == kept && readBlock(port) == kept, "misstore 2: reads differ from ",
          "the block with offsets 100-101 changed");
    CHECK(sim.command("get block") == "ok " + toHex(kept), "misstore 2: the store is not changed");
    sim.ok("fault none");
}

struct Group {
    const char *name;
    void (*run)();
};

const Group GroupNames[] = {
    {"handshake", testHandshake}, {"settings", testSettings},    {"state", testState},
    {"measure", testMeasure},     {"upload", testUpload},        {"stall", testStall},
    {"record", testRecord},       {"pacing", testPacing},        {"link", testLink},
    {"faults", testFaults},       {"stop-after", testStopAfter}, {"hangup", testHangup},
    {"adapter", testAdapter},
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: sim_selftest <tarvik2-sim> [group]\n");
        return 2;
    }
    g_simPath = argv[1];
    const std::string only = argc == 3 ? argv[2] : "";
    signal(SIGPIPE, SIG_IGN);

    int ran = 0;
    int failed = 0;
    for (const Group &group : GroupNames) {
        if (!only.empty() && only != group.name)
            continue;
        ++ran;
        auto start = Clock::now();
        try {
            group.run();
            std::printf("PASS %s (%ld ms)\n", group.name, msSince(start));
        } catch (const std::exception &e) {
            ++failed;
            std::printf("FAIL %s: %s\n", group.name, e.what());
        }
        std::fflush(stdout);
    }
    if (ran == 0) {
        std::fprintf(stderr, "no group named %s\n", only.c_str());
        return 2;
    }
    return failed == 0 ? 0 : 1;
}
