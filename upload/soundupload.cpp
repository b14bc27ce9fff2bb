#include "upload/soundupload.h"

#include "device/commands.h"
#include "device/unitlink.h"
#include "serial/serialchannel.h"

#include <QScopeGuard>
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
    QStringList files;
    for (int slot = 0; slot < fileCount(set); ++slot)
        files << fileName(set, slot);
    return run(set, files);
}

bool SoundUpload::run(Set set, const QStringList &paths)
{
    const auto closer = qScopeGuard([this] {
        for (SoundFile &file : m_files)
            file.close();
    });
    m_counter = 0;
    m_set = set;
    const SetDescription &description = describe(set);
    const int files = int(description.files.size());

    std::array<std::uint32_t, 2> blocks{};
    for (int slot = 0; slot < files; ++slot) {
        if (!prepare(slot, paths.value(slot), blocks[std::size_t(slot)]))
            return false;
    }

    report(Event::Kind::Connecting);
    std::vector<std::uint8_t> counts;
    for (int slot = 0; slot < files; ++slot) {
        counts.push_back(std::uint8_t(blocks[std::size_t(slot)] >> 8));
        counts.push_back(std::uint8_t(blocks[std::size_t(slot)]));
    }
    if (!startExchange(description.command, counts.data(), int(counts.size())))
        return false;
    report(Event::Kind::Accepted);

    for (int slot = 0; slot < files; ++slot) {
        if (!sendBlocks(slot, blocks[std::size_t(slot)]))
            return false;
        report(Event::Kind::Sent, slot, blocks[std::size_t(slot)]);
    }
    m_view.setProgress(0);
    return true;
}

// Opens, checks and reads one file; false (after saying why) when it cannot be sent.
bool SoundUpload::prepare(int slot, const QString &name, std::uint32_t &blocks)
{
    report(Event::Kind::Opening, slot);
    SoundFile &file = m_files[std::size_t(slot)];
    Event refused{Event::Kind::Refused, m_set, slot};
    switch (file.open(name)) {
    case SoundFile::Opened::Yes:
        break;
    case SoundFile::Opened::Missing:
        refused.refusal = Event::Refusal::Missing;
        m_view.report(refused);
        return false;
    case SoundFile::Opened::NotRegular:
        refused.refusal = Event::Refusal::NotRegular;
        m_view.report(refused);
        return false;
    }
    const WavHeader::Check check = WavHeader::check(file.header(), file.size());
    if (!check.ok) {
        refused.refusal = Event::Refusal::BadHeader;
        refused.header = check.problem;
        m_view.report(refused);
        return false;
    }
    if (!file.load(check.blocks)) {
        refused.refusal = Event::Refusal::Changed;
        m_view.report(refused);
        return false;
    }
    blocks = check.blocks;
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

// One file's blocks, each acknowledged with 'U' and 0xFF before the next goes out. The bar
// moves one step every blocks / 100 blocks (every block below 100) and stops at full.
bool SoundUpload::sendBlocks(int slot, std::uint32_t blocks)
{
    m_view.setProgress(0);
    const std::uint32_t step = blocks / 100;
    report(Event::Kind::Sending, slot, blocks);
    const SoundFile &file = m_files[std::size_t(slot)];
    for (std::uint32_t n = 0; n < blocks; ++n) {
        if (!send(file.block(n), SoundBlockSize) || !await(Reply::Next) || !await(Reply::BlockDone))
            return false;
        report(Event::Kind::BlockDone, slot, n + 1);
        if (++m_counter >= step) {
            m_counter = 0;
            const int position = m_view.progress();
            if (position < ProgressMax)
                m_view.setProgress(position + 1);
        }
    }
    return true;
}

bool SoundUpload::send(const std::uint8_t *bytes, int count)
{
    if (m_link.channel().sendBytes(bytes, count))
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

void SoundUpload::fail(Event::Kind kind)
{
    report(kind);
    m_view.setProgress(0);
}
