#include "upload/soundupload.h"

#include "device/protocol.h"
#include "device/unitlink.h"
#include "serial/line.h"

#include <vector>

namespace {

struct SetDescription {
    std::uint8_t command;
    std::vector<const char *> files;
};

// The one table of the uploads: which command carries which files.
const SetDescription &describe(SoundUpload::Set set)
{
    static const SetDescription messages{Command::UploadMessages, {"PPK1.wav", "PPK2.wav"}};
    static const SetDescription siren{Command::UploadSiren, {"SIREN.wav"}};
    return set == SoundUpload::Set::Messages ? messages : siren;
}

} // namespace

int SoundUpload::fileCount(Set set) { return int(describe(set).files.size()); }

QString SoundUpload::fileName(Set set, int slot)
{
    return QString::fromLatin1(describe(set).files.at(std::size_t(slot)));
}

SoundUpload::SoundUpload(UnitLink &link, const Clock &clock, View view)
    : m_link(link), m_clock(clock), m_view(std::move(view))
{
}

bool SoundUpload::run(Set set)
{
    std::array<SoundFile, 2> files;
    Sounds sounds;
    sounds.set = set;
    for (int slot = 0; slot < fileCount(set); ++slot) {
        if (!prepare(files[std::size_t(slot)], set, slot, fileName(set, slot), m_view.report,
                     sounds))
            return false;
    }
    return send(sounds);
}

std::optional<SoundUpload::Sounds>
SoundUpload::load(Set set, const QStringList &paths,
                  const std::function<void(const Event &)> &report)
{
    Sounds sounds;
    sounds.set = set;
    for (int slot = 0; slot < fileCount(set); ++slot) {
        SoundFile file;
        if (!prepare(file, set, slot, paths.value(slot), report, sounds))
            return std::nullopt;
    }
    return sounds;
}

bool SoundUpload::send(const Sounds &sounds)
{
    m_counter = 0;
    m_set = sounds.set;
    const SetDescription &description = describe(sounds.set);
    const int files = int(description.files.size());

    report(Event::Kind::Connecting);
    std::vector<std::uint8_t> counts;
    for (int slot = 0; slot < files; ++slot) {
        counts.push_back(std::uint8_t(sounds.blocks[std::size_t(slot)] >> 8));
        counts.push_back(std::uint8_t(sounds.blocks[std::size_t(slot)]));
    }
    if (!startExchange(description.command, counts.data(), int(counts.size())))
        return false;
    report(Event::Kind::Accepted);

    for (int slot = 0; slot < files; ++slot) {
        const std::uint32_t blocks = sounds.blocks[std::size_t(slot)];
        if (!sendBlocks(slot, sounds.data[std::size_t(slot)], blocks))
            return false;
        report(Event::Kind::Sent, slot, blocks);
    }
    setProgress(0);
    return true;
}

// Opens, checks and reads one file into `sounds`; false (after saying why) when it cannot be
// sent. The file stays open as long as `file` does.
bool SoundUpload::prepare(SoundFile &file, Set set, int slot, const QString &name,
                          const std::function<void(const Event &)> &report, Sounds &sounds)
{
    report(Event{Event::Kind::Opening, set, slot});
    Event refused{Event::Kind::Refused, set, slot};
    switch (file.open(name)) {
    case SoundFile::Opened::Yes:
        break;
    case SoundFile::Opened::Missing:
        refused.refusal = Event::Refusal::Missing;
        report(refused);
        return false;
    case SoundFile::Opened::NotRegular:
        refused.refusal = Event::Refusal::NotRegular;
        report(refused);
        return false;
    }
    const WavHeader::Check check = WavHeader::check(file.header(), file.size());
    if (!check.ok) {
        refused.refusal = Event::Refusal::BadHeader;
        refused.header = check.problem;
        report(refused);
        return false;
    }
    if (!file.load(check.blocks)) {
        refused.refusal = Event::Refusal::Changed;
        report(refused);
        return false;
    }
    sounds.data[std::size_t(slot)] = file.data();
    sounds.blocks[std::size_t(slot)] = check.blocks;
    return true;
}

// Command byte, the unit's 'U', the block counts, the unit's 'T'. Whatever waited on the line
// before the command is no answer to it.
bool SoundUpload::startExchange(std::uint8_t command, const std::uint8_t *counts, int countBytes)
{
    m_link.settle();
    return send(&command, 1) && await(Reply::Next) && send(counts, countBytes) &&
           await(Reply::Data);
}

// One file's blocks, each acknowledged with 'U' and 0xFF before the next goes out. The progress
// moves one step every blocks / 100 blocks (every block below 100) and stops at full.
bool SoundUpload::sendBlocks(int slot, const QByteArray &data, std::uint32_t blocks)
{
    setProgress(0);
    const std::uint32_t step = blocks / 100;
    report(Event::Kind::Sending, slot, blocks);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.constData());
    for (std::uint32_t n = 0; n < blocks; ++n) {
        if (!send(bytes + qint64(n) * SoundBlockSize, SoundBlockSize) || !await(Reply::Next) ||
            !await(Reply::BlockDone))
            return false;
        report(Event::Kind::BlockDone, slot, n + 1);
        if (++m_counter >= step) {
            m_counter = 0;
            if (m_progress < ProgressMax)
                setProgress(m_progress + 1);
        }
    }
    return true;
}

bool SoundUpload::send(const std::uint8_t *bytes, int count)
{
    if (m_link.line().sendBytes(bytes, count))
        return true;
    fail(Event::Kind::LineLost);
    return false;
}

bool SoundUpload::await(std::uint8_t reply)
{
    switch (waitForByte(m_link, reply, m_clock, ReplyBoundMs)) {
    case WaitResult::Received:
        return true;
    case WaitResult::TimedOut:
        fail(Event::Kind::NoAnswer);
        return false;
    case WaitResult::PortFailed:
        break;
    }
    fail(Event::Kind::LineLost);
    return false;
}

void SoundUpload::report(Event::Kind kind, int slot, std::uint32_t blocks)
{
    Event event{kind, m_set, slot};
    event.blocks = blocks;
    m_view.report(event);
}

void SoundUpload::setProgress(int value)
{
    m_progress = value;
    m_view.setProgress(value);
}

void SoundUpload::fail(Event::Kind kind)
{
    report(kind);
    setProgress(0);
}
