#include "simulator.h"

#include "control.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace sim {

namespace {

// While bytes stream at line rate the loop wakes at most this often and handles every byte
// that has come due meanwhile; each byte keeps its own deadline.
constexpr Nanos WakeGrain = 500 * Microsecond;

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    int saved = errno;
    char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &c, 1);
    errno = saved;
}

std::string installSignals()
{
    if (pipe(g_signalPipe) != 0)
        return std::string("pipe: ") + std::strerror(errno);
    for (int fd : g_signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return {};
}

std::string makeDir(const std::string &dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
        return "cannot create " + dir + ": " + error.message();
    return {};
}

} // namespace

Simulator::Simulator(Options options)
    : m_options(std::move(options)), m_line(!m_options.fast, m_record, m_options.adapter)
{
}

Simulator::~Simulator() = default;

int Simulator::run()
{
    std::string error = start();
    if (!error.empty()) {
        std::fprintf(stderr, "tarvik2-sim: %s\n", error.c_str());
        removeLink();
        return 1;
    }
    say("ready " + m_line.slavePath());
    loop();
    removeLink();
    withdrawAdapter();
    return 0;
}

std::string Simulator::start()
{
    if (std::string error = installSignals(); !error.empty())
        return error;
    for (const std::string *dir :
         {&m_options.comDir, &m_options.stateDir, &m_options.recordingsDir, &m_options.recordDir}) {
        if (dir->empty())
            continue;
        if (std::string error = makeDir(*dir); !error.empty())
            return error;
    }

    Block block = factoryBlock();
    std::string stateFile;
    if (!m_options.stateDir.empty()) {
        stateFile = m_options.stateDir + "/settings.bin";
        if (std::optional<Block> kept = loadBlock(stateFile)) {
            block = *kept;
            setLaunchCount(block, (launchCount(block) + 1) & 0xFFFF);
        }
    }

    if (!m_options.recordDir.empty())
        if (std::string error = m_record.open(m_options.recordDir); !error.empty())
            return error;
    if (std::string error = m_line.open(); !error.empty())
        return error;

    m_unit = std::make_unique<Unit>(m_line, block, monotonicNow());
    m_unit->setStateFile(stateFile);
    m_unit->setRecordingsDir(m_options.recordingsDir);
    m_unit->setBlock(block); // saves the new launch count
    pointLink();
    publishAdapter();
    return {};
}

void Simulator::loop()
{
    const Nanos grain = m_options.fast ? 0 : WakeGrain;
    Nanos lastBusy = 0;
    Nanos masterPause = 0; // the master reported a hang-up: look at it again only after this

    while (!m_quit) {
        Nanos now = monotonicNow();
        int moved =
            m_line.deliverDue(now, [&](std::uint8_t b, Nanos at) { m_unit->receive(b, at); });
        if (m_unit->inExchange() && m_line.quiet() &&
            now >= m_line.lastActivity() + Unit::StallTime)
            m_unit->abandon();
        moved += m_line.flushDue(now);
        if (moved > 0)
            lastBusy = now;

        std::optional<Nanos> wake = m_line.nextEvent();
        if (m_unit->inExchange() && m_line.quiet()) {
            Nanos stall = m_line.lastActivity() + Unit::StallTime;
            wake = wake ? std::min(*wake, stall) : stall;
        }
        if (wake)
            wake = std::max(*wake, lastBusy + grain);
        if (masterPause > now)
            wake = wake ? std::min(*wake, masterPause) : masterPause;

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {g_signalPipe[0], POLLIN, 0};
        const int inputIndex = m_inputOpen ? int(count) : -1;
        if (m_inputOpen)
            fds[count++] = {STDIN_FILENO, POLLIN, 0};
        const int masterIndex = m_line.isOpen() && masterPause <= now ? int(count) : -1;
        if (masterIndex >= 0) {
            short events = POLLIN;
            if (m_line.writeBlocked())
                events |= POLLOUT;
            fds[count++] = {m_line.masterFd(), events, 0};
        }

        timespec timeout{};
        if (wake) {
            Nanos left = std::max<Nanos>(0, *wake - now);
            timeout.tv_sec = left / Second;
            timeout.tv_nsec = left % Second;
        }
        int ready = ppoll(fds, count, wake ? &timeout : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tarvik2-sim: poll: %s\n", std::strerror(errno));
            return;
        }

        if (fds[0].revents) {
            char drain[16];
            while (read(g_signalPipe[0], drain, sizeof drain) > 0) {
            }
            return;
        }
        if (masterIndex >= 0 && fds[masterIndex].revents) {
            now = monotonicNow();
            int got = m_line.readAvailable(now);
            if (got == 0 && (fds[masterIndex].revents & (POLLHUP | POLLERR)))
                masterPause = now + 10 * Millisecond;
        }
        if (inputIndex >= 0 && fds[inputIndex].revents)
            takeInput();
    }
}

void Simulator::takeInput()
{
    char buffer[8192];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_inputOpen = false;
        m_quit = true;
        if (m_input.empty())
            return;
        m_input += '\n'; // a last command without its newline still counts
    } else {
        m_input.append(buffer, std::size_t(n));
    }

    std::size_t end;
    while ((end = m_input.find('\n')) != std::string::npos) {
        const std::vector<std::string> words = controlWords(m_input.substr(0, end));
        m_input.erase(0, end + 1);
        if (!words.empty())
            say(control(words));
    }
}

std::string Simulator::control(const std::vector<std::string> &words)
{
    if (std::optional<std::string> answer = unitControl(*m_unit, words))
        return *answer;
    const std::string &verb = words[0];
    const std::size_t args = words.size() - 1;
    if (verb == "hangup" && args == 0)
        return hangUp();
    if (verb == "reopen" && args == 0)
        return reopen();
    if (verb == "clear" && args == 1 && words[1] == "record") {
        m_record.clear();
        return "ok";
    }
    if (verb == "stats" && args == 0)
        return stats();
    if (verb == "quit" && args == 0) {
        m_quit = true;
        return "ok";
    }
    return unknownCommand(words);
}

std::string Simulator::hangUp()
{
    m_line.hangUp();
    withdrawAdapter();
    m_unit->abandon();
    m_unit->dropHeld();
    return "ok";
}

std::string Simulator::reopen()
{
    m_unit->abandon();
    m_unit->dropHeld();
    withdrawAdapter();
    if (std::string error = m_line.open(); !error.empty())
        return "error " + error;
    pointLink();
    publishAdapter();
    return "ok " + m_line.slavePath();
}

std::string Simulator::stats() const
{
    return statsAnswer(*m_unit, m_line.received(), m_line.sent(), m_line.queued());
}

void Simulator::pointLink()
{
    if (m_options.comDir.empty())
        return;
    // A new link under a temporary name renamed over the old one: the name never goes missing.
    m_linkPath = m_options.comDir + "/" + m_options.comName;
    std::string temporary =
        m_options.comDir + "/." + m_options.comName + "." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(m_line.slavePath().c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), m_linkPath.c_str()) != 0) {
        std::fprintf(stderr, "tarvik2-sim: cannot make the link %s: %s\n", m_linkPath.c_str(),
                     std::strerror(errno));
        unlink(temporary.c_str());
        return;
    }
    m_linkTarget = m_line.slavePath();
}

// The system's account of the adapter, as a driver would give it under /sys: the tty's device
// names its driver, and an FTDI driver reports its latency timer. A tty whose name holds a
// '/' (pts/3) stands there as pts!3, as the system names such entries. With --usb the device
// sits in a USB device's folder, as a USB serial port does, and udev's links name it.
void Simulator::publishAdapter()
{
    namespace fs = std::filesystem;
    const AdapterProfile &adapter = m_line.adapter();
    std::string name = m_line.slavePath();
    if (name.rfind("/dev/", 0) == 0)
        name.erase(0, 5);
    std::replace(name.begin(), name.end(), '/', '!');
    std::error_code error;
    if (!m_options.sysRoot.empty() && (adapter.present() || !m_options.usb.empty())) {
        const fs::path sys(m_options.sysRoot);
        const fs::path entry = sys / "class" / "tty" / name;
        fs::path device = entry / "device";
        fs::create_directories(entry, error);
        if (!m_options.usb.empty()) {
            const fs::path usbDevice = sys / "devices" / "usb1" / m_options.usbPort;
            device = usbDevice / (m_options.usbPort + ":1.0") / name;
            fs::create_directories(device, error);
            const std::string &usb = m_options.usb;
            std::ofstream(usbDevice / "idVendor") << usb.substr(0, 4) << "\n";
            std::ofstream(usbDevice / "idProduct") << usb.substr(5, 4) << "\n";
            if (usb.size() > 10)
                std::ofstream(usbDevice / "serial") << usb.substr(10) << "\n";
            fs::create_directory_symlink(device, entry / "device", error);
            m_published.push_back(usbDevice.string());
        } else {
            fs::create_directories(device, error);
        }
        if (adapter.present())
            fs::create_directory_symlink("../../../../bus/usb-serial/drivers/" + adapter.driver,
                                         device / "driver", error);
        if (adapter.latencyTimerMs > 0)
            std::ofstream(device / "latency_timer") << adapter.latencyTimerMs << "\n";
        m_published.push_back(entry.string());
        if (error)
            std::fprintf(stderr, "tarvik2-sim: cannot describe the adapter under %s: %s\n",
                         entry.c_str(), error.message().c_str());
    }
    if (!m_options.root.empty() && !m_options.usb.empty()) {
        const fs::path serial = fs::path(m_options.root) / "dev" / "serial";
        std::string id = "usb-" + m_options.usb;
        std::replace(id.begin(), id.end(), ':', '_');
        std::string socket = m_options.usbPort.substr(m_options.usbPort.find('-') + 1);
        const fs::path byId = serial / "by-id" / (id + "-if00-port0");
        const fs::path byPath =
            serial / "by-path" / ("pci-0000:00:14.0-usb-0:" + socket + ":1.0-port0");
        for (const fs::path &link : {byId, byPath}) {
            fs::create_directories(link.parent_path(), error);
            fs::remove(link, error);
            fs::create_symlink(m_line.slavePath(), link, error);
            if (error)
                std::fprintf(stderr, "tarvik2-sim: cannot make the link %s: %s\n", link.c_str(),
                             error.message().c_str());
            m_published.push_back(link.string());
        }
    }
}

void Simulator::withdrawAdapter()
{
    std::error_code error;
    for (const std::string &path : m_published)
        std::filesystem::remove_all(path, error);
    m_published.clear();
}

void Simulator::removeLink()
{
    if (m_linkPath.empty())
        return;
    // Only our own link: another simulator may have taken the name over meanwhile.
    char target[4096];
    ssize_t n = readlink(m_linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, std::size_t(n)) == m_linkTarget)
        unlink(m_linkPath.c_str());
    m_linkPath.clear();
}

void Simulator::say(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace sim
