// Uploading the two alert messages and the siren, and the log lines of their steps.

#include "app/tform1.h"
#include "app/uploadview.h"

namespace {

using Event = SoundUpload::Event;

// The lines of each file of a set. The spellings differ from file to file; they are the
// ones the engineers know.
struct FileLines {
    QString opening;
    QString missing;
    QString sending;
    QString sent;
};

struct SetLines {
    std::vector<FileLines> files;
    QString connecting;
};

const SetLines &linesOf(SoundUpload::Set set)
{
    static const SetLines messages{
        {{QStringLiteral("Открытие PPK1.WAV"), QStringLiteral("Файл PPK1.WAV не найден"),
          QStringLiteral("Запись PPK1"), QStringLiteral("Записано")},
         {QStringLiteral("Открытие PPK2.WAV"), QStringLiteral("Файл PPK2.wav не найден"),
          QStringLiteral("Запись PPK2"), QStringLiteral("Записано")}},
        QStringLiteral("Соединение с устройством...")};
    static const SetLines siren{
        {{QStringLiteral("Открытие SIREN.WAV"), QStringLiteral("Файл SIREN.wav не найден"),
          QStringLiteral("Запись SIREN"), QStringLiteral("Успешно")}},
        QStringLiteral("Соединение с устройством ...")};
    return set == SoundUpload::Set::Messages ? messages : siren;
}

QString refusalLine(const Event &event)
{
    const SoundUpload::Set set = event.set;
    const FileLines &file = linesOf(set).files.at(std::size_t(event.slot));
    QString why;
    switch (event.refusal) {
    case Event::Refusal::None:
    case Event::Refusal::Missing:
        return file.missing;
    case Event::Refusal::NotRegular:
        why = QStringLiteral("это не обычный файл");
        break;
    case Event::Refusal::BadHeader:
        why = wavProblemText(event.header);
        break;
    case Event::Refusal::Changed:
        why = QStringLiteral("файл изменился во время чтения");
        break;
    }
    return QStringLiteral("Файл %1: %2").arg(SoundUpload::fileName(set, event.slot), why);
}

// The line for one step, or none.
QString lineFor(const Event &event)
{
    const SetLines &lines = linesOf(event.set);
    switch (event.kind) {
    case Event::Kind::Opening:
        return lines.files.at(std::size_t(event.slot)).opening;
    case Event::Kind::Refused:
        return refusalLine(event);
    case Event::Kind::Connecting:
        return lines.connecting;
    case Event::Kind::Accepted:
        return QStringLiteral("Успешно");
    case Event::Kind::Sending:
        return lines.files.at(std::size_t(event.slot)).sending;
    case Event::Kind::BlockDone:
        return {};
    case Event::Kind::Sent:
        return lines.files.at(std::size_t(event.slot)).sent;
    case Event::Kind::NoAnswer:
        return QStringLiteral("Нет ответа от устройства");
    case Event::Kind::LineLost:
        return QStringLiteral("Связь с устройством потеряна");
    }
    return {};
}

} // namespace

QString wavProblemText(WavHeader::Problem problem)
{
    using P = WavHeader::Problem;
    switch (problem) {
    case P::None:
        break;
    case P::Short:
        return QStringLiteral("файл короче заголовка WAV (44 байта)");
    case P::NoRiff:
        return QStringLiteral("нет заголовка RIFF");
    case P::NoWave:
        return QStringLiteral("нет метки WAVE");
    case P::NoFmt:
        return QStringLiteral("нет блока fmt");
    case P::NoData:
        return QStringLiteral("нет блока data сразу после блока fmt");
    case P::LengthBeyondFile:
        return QStringLiteral("длина данных в заголовке больше файла");
    case P::TooManyBlocks:
        return QStringLiteral("больше 65535 блоков по 512 байт");
    }
    return {};
}

SoundUpload::View uploadView(std::function<void(const QString &)> log,
                             std::function<void(int)> setProgress)
{
    return {[log](const Event &event) {
                const QString line = lineFor(event);
                if (!line.isEmpty())
                    log(line);
            },
            std::move(setProgress)};
}

void TForm1::upload(SoundUpload::Set set)
{
    if (!m_connected)
        return;
    operate([this, set] {
        QProgressBar *bar = ProgressBar1;
        SoundUpload::View view =
            uploadView([this](const QString &line) { ui([this, line] { log(line); }); },
                       [this, bar](int value) { ui([bar, value] { bar->setValue(value); }); });
        // The upload says so itself when the line is lost; the window need not say it again.
        view.report = [this, report = std::move(view.report)](const SoundUpload::Event &event) {
            report(event);
            if (event.kind == SoundUpload::Event::Kind::LineLost)
                ui([this] { m_lossLogged = true; });
        };
        SoundUpload(m_session->link(), m_session->clock(), std::move(view)).run(set);
    });
}

void TForm1::Button6Click() { upload(SoundUpload::Set::Messages); }

void TForm1::Button8Click() { upload(SoundUpload::Set::Siren); }
