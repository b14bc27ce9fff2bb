#include "upload/soundupload.h"

#include "device/commands.h"
#include "serial/serialchannel.h"
#include "upload/wavheader.h"

#include <QScopeGuard>
#include <algorithm>

SoundUpload::SoundUpload(SerialChannel &channel, const Clock &clock, View view)
    : m_channel(channel), m_clock(clock), m_view(std::move(view))
{
}

void SoundUpload::uploadMessages()
{
    const auto closer = qScopeGuard([this] { closeFiles(); });
    m_counter = 0;

    m_view.log(QStringLiteral("Открытие PPK1.WAV"));
    const auto blocks1 =
        openChecked(m_slot1, QStringLiteral("PPK1.wav"), QStringLiteral("Файл PPK1.WAV не найден"));
    if (!blocks1)
        return;
    m_view.log(QStringLiteral("Открытие PPK2.WAV"));
    const auto blocks2 =
        openChecked(m_slot2, QStringLiteral("PPK2.wav"), QStringLiteral("Файл PPK2.wav не найден"));
    if (!blocks2)
        return;

    m_view.log(QStringLiteral("Соединение с устройством..."));
    const std::uint8_t counts[] = {std::uint8_t(*blocks1 >> 8), std::uint8_t(*blocks1),
                                   std::uint8_t(*blocks2 >> 8), std::uint8_t(*blocks2)};
    if (!startExchange(Command::UploadMessages, counts, sizeof counts))
        return;
    m_view.log(QStringLiteral("Успешно"));

    if (!sendBlocks(m_slot1, *blocks1, QStringLiteral("Запись PPK1")))
        return;
    m_view.log(QStringLiteral("Записано"));
    if (!sendBlocks(m_slot2, *blocks2, QStringLiteral("Запись PPK2")))
        return;
    m_view.log(QStringLiteral("Записано"));
    m_view.setProgress(0);
}

void SoundUpload::uploadSiren()
{
    const auto closer = qScopeGuard([this] { closeFiles(); });
    m_counter = 0;

    m_view.log(QStringLiteral("Открытие SIREN.WAV"));
    const auto blocks = openChecked(m_slot1, QStringLiteral("SIREN.wav"),
                                    QStringLiteral("Файл SIREN.wav не найден"));
    if (!blocks)
        return;

    m_view.log(QStringLiteral("Соединение с устройством ..."));
    const std::uint8_t counts[] = {std::uint8_t(*blocks >> 8), std::uint8_t(*blocks)};
    if (!startExchange(Command::UploadSiren, counts, sizeof counts))
        return;
    m_view.log(QStringLiteral("Успешно"));

    if (!sendBlocks(m_slot1, *blocks, QStringLiteral("Запись SIREN")))
        return;
    m_view.log(QStringLiteral("Успешно"));
    m_view.setProgress(0);
}

std::optional<std::uint32_t> SoundUpload::openChecked(SoundFile &file, const QString &name,
                                                      const QString &notFoundLine)
{
    if (!file.open(name)) {
        m_view.log(notFoundLine);
        return std::nullopt;
    }
    const WavHeader::Check check = WavHeader::check(file.header(), file.size());
    if (!check.ok) {
        m_view.log(QStringLiteral("Файл %1: %2").arg(name, check.reason));
        return std::nullopt;
    }
    return check.blocks;
}

// Command byte, the unit's 'U', the block counts, the unit's 'T'.
bool SoundUpload::startExchange(std::uint8_t command, const std::uint8_t *counts, int countBytes)
{
    return send(&command, 1) && await(Reply::Next) && send(counts, countBytes) &&
           await(Reply::Data);
}

// One file's blocks, each acknowledged with 'U' and 0xFF before the next goes out. The bar
// moves one step every blocks / 100 blocks (every block below 100) and stops at full.
bool SoundUpload::sendBlocks(SoundFile &file, std::uint32_t blocks, const QString &title)
{
    m_view.setProgress(0);
    const std::uint32_t step = blocks / 100;
    m_view.log(title);
    for (std::uint32_t n = 0; n < blocks; ++n) {
        file.readBlock();
        if (!send(file.area(), SoundFile::AreaSize) || !await(Reply::Next) ||
            !await(Reply::BlockDone))
            return false;
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
    if (m_channel.sendBytes(bytes, count))
        return true;
    fail(QStringLiteral("Связь с устройством потеряна"));
    return false;
}

bool SoundUpload::await(std::uint8_t reply)
{
    switch (waitForByte(m_channel, reply, m_clock, ReplyBoundMs)) {
    case WaitResult::Received:
        return true;
    case WaitResult::TimedOut:
        fail(QStringLiteral("Нет ответа от устройства"));
        return false;
    case WaitResult::PortFailed:
        break;
    }
    fail(QStringLiteral("Связь с устройством потеряна"));
    return false;
}

void SoundUpload::fail(const QString &line)
{
    m_view.log(line);
    m_view.setProgress(0);
}

void SoundUpload::closeFiles()
{
    m_slot1.close();
    m_slot2.close();
}
