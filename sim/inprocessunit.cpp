#include "sim/inprocessunit.h"

#include "serial/comnames.h"
#include "sim/control.h"
#include "sim/storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <algorithm>
#include <vector>

namespace {

using sim::Nanos;
constexpr Nanos Ms = sim::Millisecond;

// What the serial port says of a device that is not there.

sim::AdapterProfile profileNamed(const QString &name)
{
    const std::optional<sim::AdapterProfile> profile =
        sim::AdapterProfile::named(name.toStdString());
    if (!profile)
        qFatal("InProcessUnit: the adapter is one of %s, not %s", sim::AdapterProfile::names(),
               qPrintable(name));
    return *profile;
}

// The adapter as the serial layer would learn it from the system's tree that the pty
// simulator describes for the profile.
Adapter serialAdapter(const sim::AdapterProfile &profile)
{
    return Adapter::fromDriver(QString::fromStdString(profile.driver),
                               profile.latencyTimerMs > 0 ? profile.latencyTimerMs : -1);
}

} // namespace

InProcessUnit::InProcessUnit(const QString &adapter)
    : m_profile(profileNamed(adapter)), m_usb(m_profile, 0), m_adapter(serialAdapter(m_profile)),
      m_unit(*this, sim::factoryBlock(), 0)
{
    QDir(m_work.path()).mkpath(QStringLiteral("recordings"));
    m_unit.setRecordingsDir(QFile::encodeName(recordingsDir()).toStdString());
}

InProcessUnit::~InProcessUnit() = default;

void InProcessUnit::setComIndex(int index)
{
    Q_ASSERT(index >= 0 && index < ComNames::Count);
    std::lock_guard lock(m_mutex);
    m_index = index;
}

// ---- control --------------------------------------------------------------------------------

QString InProcessUnit::command(const QString &line)
{
    std::lock_guard lock(m_mutex);
    return answer(line);
}

QString InProcessUnit::answer(const QString &line)
{
    const std::vector<std::string> words = sim::controlWords(line.toStdString());
    if (words.empty())
        return QStringLiteral("error no answer"); // the simulator says nothing to a blank line
    if (const std::optional<std::string> said = sim::unitControl(m_unit, words))
        return QString::fromStdString(*said);
    const std::string &verb = words[0];
    const std::size_t args = words.size() - 1;
    if (verb == "hangup" && args == 0) {
        dropEnd();
        m_unit.abandon();
        m_unit.dropHeld();
        return QStringLiteral("ok");
    }
    if (verb == "reopen" && args == 0) {
        m_unit.abandon();
        m_unit.dropHeld();
        dropEnd();
        m_endUp = true;
        return QStringLiteral("ok ") + devicePath(m_index);
    }
    if (verb == "clear" && args == 1 && words[1] == "record") {
        m_received.clear();
        m_sent.clear();
        return QStringLiteral("ok");
    }
    if (verb == "stats" && args == 0)
        return stats();
    return QString::fromStdString(sim::unknownCommand(words));
}

QString InProcessUnit::stats() const
{
    return QString::fromStdString(
        sim::statsAnswer(m_unit, m_receivedTotal, m_sentTotal, m_fromUnit.size() + m_wire.size()));
}

// Copies that share nothing with the record, which the line's thread goes on writing.
QByteArray InProcessUnit::received() const
{
    std::lock_guard lock(m_mutex);
    return QByteArray(m_received.constData(), m_received.size());
}

QByteArray InProcessUnit::sent() const
{
    std::lock_guard lock(m_mutex);
    return QByteArray(m_sent.constData(), m_sent.size());
}

qint64 InProcessUnit::receivedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_received.size();
}

void InProcessUnit::clearRecord() { command(QStringLiteral("clear record")); }

void InProcessUnit::settle()
{
    std::lock_guard lock(m_mutex);
    while (!m_toUnit.empty() || !m_fromUnit.empty() || !m_wire.empty()) {
        const std::optional<Nanos> next = nextEvent();
        if (!next)
            break;
        runUntil(*next, false);
    }
}

QByteArray InProcessUnit::block() const
{
    std::lock_guard lock(m_mutex);
    const sim::Block &block = m_unit.block();
    return QByteArray(reinterpret_cast<const char *>(block.data()), int(block.size()));
}

void InProcessUnit::setBlock(const QByteArray &b)
{
    command(QStringLiteral("set block ") + QString::fromLatin1(b.toHex()));
}

QString InProcessUnit::recordingsDir() const
{
    return m_work.path() + QStringLiteral("/recordings");
}

// ---- the line's user's side -----------------------------------------------------------------

bool InProcessUnit::open(int index)
{
    if (index < 0 || index >= ComNames::Count) {
        std::lock_guard lock(m_mutex);
        closeLine();
        m_failed = false;
        m_failedDevice.clear();
        m_openReason = {OpenFailure::NoIndex};
        return false;
    }
    return openDevice(devicePath(index));
}

bool InProcessUnit::openDevice(const QString &path)
{
    std::lock_guard lock(m_mutex);
    closeLine();
    m_failed = false;
    m_openReason = {};
    m_failedDevice.clear();
    if (path != devicePath(m_index) || !m_endUp) {
        m_openReason = {OpenFailure::NoDevice};
        m_failedDevice = path;
        return false;
    }
    m_open = true;
    m_quiet = m_now;
    return true;
}

void InProcessUnit::close()
{
    std::lock_guard lock(m_mutex);
    closeLine();
}

void InProcessUnit::closeLine()
{
    m_open = false;
    ++m_generation;
}

bool InProcessUnit::canOpen(int index) const
{
    std::lock_guard lock(m_mutex);
    // An open line holds the device exclusively, against itself too.
    return index == m_index && m_endUp && !m_open;
}

Line::OpenReason InProcessUnit::lastOpenReason() const
{
    std::lock_guard lock(m_mutex);
    return m_openReason;
}

QString InProcessUnit::lastOpenDevice() const
{
    std::lock_guard lock(m_mutex);
    return m_failedDevice;
}

bool InProcessUnit::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool InProcessUnit::hasFailed() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

void InProcessUnit::setLossHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_mutex);
    m_lossHandler = std::move(handler);
}

// The device a list index names, as the serial port would report it: a link's target rather
// than the link.
QString InProcessUnit::devicePath(int index) const
{
    const QString path = ComNames::devicePath(index);
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

void InProcessUnit::noteLoss()
{
    if (!transferable())
        return;
    m_failed = true;
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        &m_context,
        [this, generation] {
            std::function<void()> handler;
            {
                std::lock_guard lock(m_mutex);
                if (generation != m_generation || !m_open)
                    return; // closed or opened again meanwhile: that line was not lost
                closeLine();
                handler = m_lossHandler;
            }
            if (handler)
                handler();
        },
        Qt::QueuedConnection);
}

bool InProcessUnit::sendBytes(const std::uint8_t *source, int count)
{
    std::lock_guard lock(m_mutex);
    if (!transferable())
        return false;
    // Onto the line at its pace, behind what is still on its way; behind an adapter from the
    // next USB frame on.
    const Nanos start = m_profile.present() ? m_usb.frameAfter(m_now) : m_now;
    Nanos last = m_toUnit.empty() ? m_lastArrival : m_toUnit.back().time;
    for (int i = 0; i < count; ++i) {
        last = std::max(start, last) + sim::CharacterTime;
        m_toUnit.push_back({source[i], last});
    }
    return true;
}

int InProcessUnit::receiveBytes(std::uint8_t *destination, int count)
{
    std::lock_guard lock(m_mutex);
    if (!transferable() || count <= 0)
        return 0;
    const Nanos deadline = m_now + Line::receiveBoundMs(count) * Ms;
    int got = 0;
    for (;;) {
        const int n = take(destination + got, count - got);
        if (n > 0)
            m_quiet = m_now;
        got += n;
        if (got >= count || m_failed || m_now >= deadline)
            break;
        if (!waitForInput(deadline - m_now))
            break;
    }
    if (got < count)
        m_quiet = m_now; // what did not come may still be on its way
    return got;
}

void InProcessUnit::settle(int quietMs)
{
    std::lock_guard lock(m_mutex);
    if (!transferable())
        return;
    const Nanos start = m_now;
    for (;;) {
        if (drop())
            m_quiet = m_now;
        const Nanos left = quietMs * Ms - (m_now - m_quiet);
        if (left <= 0 || m_now - start >= SettleBoundMs * Ms || m_failed)
            return;
        if (!waitForInput(left))
            return;
    }
}

bool InProcessUnit::moreFollows(int quietMs)
{
    std::lock_guard lock(m_mutex);
    if (!transferable())
        return false;
    if (m_input.empty() && !waitForInput(quietMs * Ms))
        return false;
    if (m_input.empty())
        return false;
    m_quiet = m_now;
    return true;
}

bool InProcessUnit::lineUp()
{
    std::lock_guard lock(m_mutex);
    return transferable();
}

bool InProcessUnit::waitForInput(Nanos ns)
{
    runUntil(m_now + ns, true);
    return !m_failed;
}

int InProcessUnit::take(std::uint8_t *destination, int count)
{
    int n = 0;
    while (n < count && !m_input.empty()) {
        destination[n++] = m_input.front();
        m_input.pop_front();
        if (!m_beyond.empty()) {
            m_input.push_back(m_beyond.front());
            m_beyond.pop_front();
        }
    }
    return n;
}

bool InProcessUnit::drop()
{
    const bool any = !m_input.empty();
    m_input.clear();
    m_beyond.clear();
    return any;
}

// ---- the clock ------------------------------------------------------------------------------

qint64 InProcessUnit::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now / Ms;
}

void InProcessUnit::sleep(int ms) const
{
    std::lock_guard lock(m_mutex);
    // The pause is the unit's time passing: the one change a const clock makes.
    auto *self = const_cast<InProcessUnit *>(this);
    self->runUntil(m_now + ms * Ms, false);
}

// ---- the line and the unit's end ------------------------------------------------------------

void InProcessUnit::send(std::span<const std::uint8_t> bytes, Nanos ready, Nanos gap)
{
    if (!m_endUp)
        return;
    for (std::uint8_t byte : bytes) {
        m_fromUnit.push_back({byte, ready, gap});
        gap = 0;
    }
}

void InProcessUnit::hangUp() { dropEnd(); }

void InProcessUnit::dropEnd()
{
    m_endUp = false;
    m_toUnit.clear();
    m_fromUnit.clear();
    m_wire.clear();
    m_usb.clear();
    m_input.clear();
    m_beyond.clear();
    noteLoss();
}

Nanos InProcessUnit::crossing(const Pending &p) const
{
    // A byte owed a gap waits for that much silence after the byte before it.
    return std::max(p.time, m_lastSent + p.gap) + sim::CharacterTime;
}

bool InProcessUnit::lineQuiet() const
{
    return m_toUnit.empty() && m_fromUnit.empty() && m_usb.buffered() == 0;
}

std::optional<Nanos> InProcessUnit::nextEvent() const
{
    std::optional<Nanos> next;
    auto earliest = [&next](Nanos at) { next = next ? std::min(*next, at) : at; };
    if (!m_toUnit.empty())
        earliest(m_toUnit.front().time);
    if (!m_fromUnit.empty())
        earliest(crossing(m_fromUnit.front()));
    if (const std::optional<Nanos> at = m_usb.delivery())
        earliest(*at);
    if (m_unit.inExchange() && lineQuiet())
        earliest(std::max(m_lastArrival, m_lastSent) + sim::Unit::StallTime);
    return next;
}

bool InProcessUnit::runUntil(Nanos until, bool forInput)
{
    bool readable = false;
    for (;;) {
        const std::optional<Nanos> next = nextEvent();
        if (!next || *next > until)
            break;
        m_now = std::max(m_now, *next);
        readable = step() || readable;
        if (forInput && (readable || m_failed))
            return readable;
    }
    m_now = std::max(m_now, until);
    return readable;
}

bool InProcessUnit::step()
{
    // What has reached the unit is recorded before it acts on it: its answer comes after.
    std::vector<Pending> due;
    while (!m_toUnit.empty() && m_toUnit.front().time <= m_now) {
        due.push_back(m_toUnit.front());
        m_toUnit.pop_front();
    }
    for (const Pending &p : due)
        m_received.append(char(p.byte));
    m_receivedTotal += due.size();
    if (!due.empty())
        m_lastArrival = due.back().time;
    for (const Pending &p : due) {
        if (!m_endUp)
            break;
        m_unit.receive(p.byte, p.time);
    }

    if (m_unit.inExchange() && lineQuiet() &&
        m_now >= std::max(m_lastArrival, m_lastSent) + sim::Unit::StallTime)
        m_unit.abandon();

    bool readable = false;
    while (!m_fromUnit.empty()) {
        const Nanos at = crossing(m_fromUnit.front());
        if (at > m_now)
            break;
        const std::uint8_t byte = m_fromUnit.front().byte;
        m_fromUnit.pop_front();
        m_lastSent = at;
        if (m_profile.present()) {
            m_wire.push_back(byte);
            m_usb.add(at);
        } else {
            readable = deliver(byte) || readable;
        }
    }
    for (std::size_t n = m_usb.take(m_now); n > 0; --n) {
        readable = deliver(m_wire.front()) || readable;
        m_wire.pop_front();
    }
    return readable;
}

bool InProcessUnit::deliver(std::uint8_t byte)
{
    m_sent.append(char(byte));
    ++m_sentTotal;
    if (m_beyond.empty() && m_input.size() < std::size_t(InputBound)) {
        m_input.push_back(byte);
        return true;
    }
    m_beyond.push_back(byte);
    return false;
}
