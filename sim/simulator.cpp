#include "simulator.h"

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
#include <sstream>
#include <unistd.h>

namespace sim {

namespace {

// A write or an upload is given up after this much silence on the line.
constexpr Nanos StallTime = Second;
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

std::optional<unsigned long> parseNumber(const std::string &text, unsigned long max)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    unsigned long value = std::stoul(text);
    if (value > max)
        return std::nullopt;
    return value;
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
        if (m_unit->inExchange() && m_line.quiet() && now >= m_line.lastActivity() + StallTime)
            m_unit->abandon();
        moved += m_line.flushDue(now);
        if (moved > 0)
            lastBusy = now;

        std::optional<Nanos> wake = m_line.nextEvent();
        if (m_unit->inExchange() && m_line.quiet()) {
            Nanos stall = m_line.lastActivity() + StallTime;
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
        std::istringstream line(m_input.substr(0, end));
        m_input.erase(0, end + 1);
        std::vector<std::string> words;
        for (std::string word; line >> word;)
            words.push_back(word);
        if (!words.empty())
            say(control(words));
    }
}

std::string Simulator::control(const std::vector<std::string> &words)
{
    const std::string &verb = words[0];
    const std::size_t args = words.size() - 1;
    if (verb == "fault")
        return fault(words);
    if (verb == "hangup" && args == 0)
        return hangUp();
    if (verb == "reopen" && args == 0)
        return reopen();
    if (verb == "measure" && args == 1 && words[1] == "auto") {
        m_unit->setFixedMeasurement(std::nullopt);
        return "ok";
    }
    if (verb == "measure") {
        if (args != 6)
            return "error usage: measure A B C D E F | measure auto";
        Measurement values{};
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::optional<unsigned long> value = parseNumber(words[i + 1], 65535);
            if (!value)
                return "error not a value from 0 to 65535: " + words[i + 1];
            values[i] = std::uint16_t(*value);
        }
        m_unit->setFixedMeasurement(values);
        return "ok";
    }
    if (verb == "get" && args == 1 && words[1] == "block")
        return "ok " + toHex(m_unit->block());
    if (verb == "set" && args == 2 && words[1] == "block") {
        std::optional<Block> block = blockFromHex(words[2]);
        if (!block)
            return "error a block is 1024 hex digits";
        m_unit->setBlock(*block);
        return "ok";
    }
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
    std::string line = verb;
    for (std::size_t i = 1; i < words.size(); ++i)
        line += " " + words[i];
    return "error unknown command: " + line;
}

std::string Simulator::fault(const std::vector<std::string> &words)
{
    Faults &faults = m_unit->faults();
    const std::string kind = words.size() > 1 ? words[1] : "";
    if (words.size() == 2) {
        if (kind == "none") {
            faults = Faults{};
            return "ok";
        }
        if (kind == "silent") {
            faults.silent = true;
            return "ok";
        }
        if (kind == "ffonly") {
            faults.ffOnly = true;
            return "ok";
        }
        if (kind == "uonly") {
            faults.uOnly = true;
            return "ok";
        }
    }
    if (kind == "shift-once") {
        std::optional<unsigned long> junk =
            words.size() == 4 ? parseNumber(words[2], 511) : std::nullopt;
        std::optional<unsigned long> gap =
            words.size() == 4 ? parseNumber(words[3], 600000) : std::nullopt;
        if (!junk || *junk < 1 || !gap)
            return "error usage: fault shift-once <1..511> <0..600000>";
        faults.shiftOnce = Split{*junk, Nanos(*gap) * Millisecond};
        return "ok";
    }
    if (kind == "split" || kind == "split-once") {
        std::optional<unsigned long> head =
            words.size() == 4 ? parseNumber(words[2], 65535) : std::nullopt;
        std::optional<unsigned long> gap =
            words.size() == 4 ? parseNumber(words[3], 600000) : std::nullopt;
        if (!head || *head < 1 || !gap)
            return "error usage: fault " + kind + " <1..65535> <0..600000>";
        const Split split{*head, Nanos(*gap) * Millisecond};
        (kind == "split" ? faults.split : faults.splitOnce) = split;
        return "ok";
    }
    struct Limit {
        const char *name;
        unsigned long min;
        unsigned long max;
    };
    static const Limit limits[] = {
        {"late", 0, 600000},        {"short", 0, 65535}, {"garbage", 0, 65535},
        {"garbage-once", 1, 65535}, {"tail", 0, 65535},  {"tail-once", 0, 65535},
        {"stop-after", 0, 65535},   {"corrupt", 1, 412}, {"misstore", 1, 412},
        {"hangup-after", 1, 65535},
    };
    for (const Limit &limit : limits) {
        if (kind != limit.name)
            continue;
        std::optional<unsigned long> value =
            words.size() == 3 ? parseNumber(words[2], limit.max) : std::nullopt;
        if (!value || *value < limit.min)
            return "error usage: fault " + kind + " <" + std::to_string(limit.min) + ".." +
                   std::to_string(limit.max) + ">";
        if (kind == "late")
            faults.late = Nanos(*value) * Millisecond;
        else if (kind == "short")
            faults.shortTo = *value;
        else if (kind == "garbage")
            faults.garbage = *value;
        else if (kind == "garbage-once")
            faults.garbageOnce = *value;
        else if (kind == "tail")
            faults.tail = *value;
        else if (kind == "tail-once")
            faults.tailOnce = *value;
        else if (kind == "stop-after")
            faults.stopAfter = int(*value);
        else if (kind == "corrupt")
            faults.corrupt = *value;
        else if (kind == "misstore")
            faults.misstore = *value;
        else
            faults.hangupAfter = int(*value);
        return "ok";
    }
    return "error usage: fault none | silent | late MS | short N | garbage N | garbage-once N | "
           "split N MS | split-once N MS | shift-once N MS | tail N | tail-once N | ffonly | uonly "
           "| stop-after K | "
           "corrupt K | misstore K | hangup-after K";
}

std::string Simulator::hangUp()
{
    m_line.hangUp();
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
    return "ok rx=" + std::to_string(m_line.received()) + " tx=" + std::to_string(m_line.sent()) +
           " writes=" + std::to_string(m_unit->writes()) +
           " uploads=" + std::to_string(m_unit->uploads()) +
           " queued=" + std::to_string(m_line.queued()) + " held=" + std::to_string(m_unit->held());
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
// '/' (pts/3) stands there as pts!3, as the system names such entries.
void Simulator::publishAdapter()
{
    const AdapterProfile &adapter = m_line.adapter();
    if (m_options.sysRoot.empty() || !adapter.present())
        return;
    std::string name = m_line.slavePath();
    if (name.rfind("/dev/", 0) == 0)
        name.erase(0, 5);
    std::replace(name.begin(), name.end(), '/', '!');
    const std::filesystem::path entry =
        std::filesystem::path(m_options.sysRoot) / "class" / "tty" / name;
    std::error_code error;
    std::filesystem::create_directories(entry / "device", error);
    std::filesystem::create_directory_symlink(
        "../../../../bus/usb-serial/drivers/" + adapter.driver, entry / "device" / "driver", error);
    if (adapter.latencyTimerMs > 0)
        std::ofstream(entry / "device" / "latency_timer") << adapter.latencyTimerMs << "\n";
    if (error)
        std::fprintf(stderr, "tarvik2-sim: cannot describe the adapter under %s: %s\n",
                     entry.c_str(), error.message().c_str());
    m_adapterEntry = entry.string();
}

void Simulator::withdrawAdapter()
{
    if (m_adapterEntry.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(m_adapterEntry, error);
    m_adapterEntry.clear();
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
