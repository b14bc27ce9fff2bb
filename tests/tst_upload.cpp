// Sound upload: the header check on its own, then both uploads against the unit in the test's
// own process and one over the unit simulator on a real pty, with WAV files written into a
// temporary current folder.

#include "app/uploadview.h"
#include "device/steadyclock.h"
#include "device/unitlink.h"
#include "serial/serialchannel.h"
#include "support/simprocess.h"
#include "support/simulatedunit.h"
#include "support/wavfile.h"
#include "upload/soundupload.h"
#include "upload/wavheader.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int Block = 512;
constexpr int ComIndex = 4; // "COM5"
constexpr quint32 LostSeed = 21;
using Set = SoundUpload::Set;

QByteArray samples(int size, quint32 seed)
{
    QByteArray data(size, '\0');
    QRandomGenerator random(seed);
    for (char &c : data)
        c = char(random.bounded(256));
    return data;
}

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Writes a sound file of `blocks` whole blocks plus `remainder` bytes; returns its samples.
QByteArray writeWav(const QString &name, int blocks, int remainder, quint32 seed)
{
    const QByteArray data = samples(blocks * Block + remainder, seed);
    writeFile(name, wavHeader(quint32(data.size())) + data);
    return data;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Whether some open file description holds an exclusive lock on the file.
bool isLocked(const QString &name)
{
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

template <typename Sim> QByteArray recording(const Sim &sim, const QString &name)
{
    QFile f(sim.recordingsDir() + QLatin1Char('/') + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QStringList MessageLog{QStringLiteral("Открытие PPK1.WAV"),
                             QStringLiteral("Открытие PPK2.WAV"),
                             QStringLiteral("Соединение с устройством..."),
                             QStringLiteral("Успешно"),
                             QStringLiteral("Запись PPK1"),
                             QStringLiteral("Записано"),
                             QStringLiteral("Запись PPK2"),
                             QStringLiteral("Записано")};

const QStringList SirenLog{
    QStringLiteral("Открытие SIREN.WAV"), QStringLiteral("Соединение с устройством ..."),
    QStringLiteral("Успешно"), QStringLiteral("Запись SIREN"), QStringLiteral("Успешно")};

// One progress-bar write and how many whole blocks the unit had received by then.
struct ProgressCall {
    int value;
    int blocks;
    bool operator==(const ProgressCall &) const = default;
};

char *toString(const ProgressCall &call)
{
    return QTest::toString(QStringLiteral("(%1 at block %2)").arg(call.value).arg(call.blocks));
}

// What an upload's view is told: every log line and every progress-bar write.
struct UploadLog {
    QStringList lines;
    QList<int> progress;
    int bar = 0;
    std::function<void(const QString &)> onLine;
    std::function<void(int)> onProgress;

    SoundUpload::View view()
    {
        return uploadView(
            [this](const QString &line) {
                lines << line;
                if (onLine)
                    onLine(line);
            },
            [this](int value) {
                bar = value;
                progress << value;
                if (onProgress)
                    onProgress(value);
            });
    }
    void reset()
    {
        lines.clear();
        progress.clear();
    }
};

// The unit in the test's own process, the line opened on it, and an upload on its clock.
struct Bench : UploadLog {
    SimulatedUnit sim;
    UnitLink link{sim.line()};
    SoundUpload upload{link, sim.clock(), view()};

    bool start() { return sim.line().open(ComIndex); }
};

// The unit simulator on a pty linked as COM5, and the serial channel opened on it.
struct PtyBench : UploadLog {
    ComFolder com;
    SimProcess sim{com.path(), QStringLiteral("COM5")};
    SerialChannel channel;
    UnitLink link{channel};
    SteadyClock clock{100};
    SoundUpload upload{link, clock, view()};

    bool start() { return sim.start() && channel.open(ComIndex); }
};

} // namespace

class TestUpload : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void headerCheck_data();
    void headerCheck();

    void messageUploadOnTheWire();
    void sirenUploadOnTheWire();
    void uploadsInARow();

    void progress_data();
    void progress();
    void progressCarriesOverToPpk2();

    void missingFile_data();
    void missingFile();
    void missingPpk2ThenPresent();
    void lockedFileCountsAsMissing();
    void fileHeldWhileUploading();

    void rejectedFile_data();
    void rejectedFile();

    void lostUnit_data();
    void lostUnit();
    void garbageBetweenAcknowledgements();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_previousFolder;
    std::unique_ptr<Bench> m_bench;
    Bench &bench();
};

void TestUpload::init()
{
    m_previousFolder = QDir::currentPath();
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    QVERIFY(QDir::setCurrent(m_folder->path()));
}

void TestUpload::cleanup()
{
    m_bench.reset();
    QDir::setCurrent(m_previousFolder);
    m_folder.reset();
}

Bench &TestUpload::bench()
{
    m_bench = std::make_unique<Bench>();
    return *m_bench;
}

// ---- header check --------------------------------------------------------------------------

void TestUpload::headerCheck_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("blocks");
    QTest::addColumn<QString>("reason");

    const QByteArray good = wavHeader(3 * Block + 100);
    auto with = [](QByteArray h, int at, const char *tag) { return h.replace(at, 4, tag); };
    auto stating = [](quint32 length) { return wavHeader(length); };

    QTest::newRow("good") << good << qint64(44 + 3 * Block + 100) << true << 3u << QString();
    QTest::newRow("good, trailing bytes after the data")
        << good << qint64(44 + 4 * Block) << true << 3u << QString();
    QTest::newRow("under one block") << stating(511) << qint64(44 + 511) << true << 0u << QString();
    QTest::newRow("empty data") << stating(0) << qint64(44) << true << 0u << QString();
    QTest::newRow("65535 blocks") << stating(65535u * Block + 511) << qint64(44 + 65536 * Block)
                                  << true << 65535u << QString();

    QTest::newRow("short file") << good.left(30) << qint64(30) << false << 0u
                                << QStringLiteral("файл короче заголовка WAV (44 байта)");
    QTest::newRow("43 bytes") << good.left(43) << qint64(43) << false << 0u
                              << QStringLiteral("файл короче заголовка WAV (44 байта)");
    QTest::newRow("not RIFF") << with(good, 0, "RIFX") << qint64(2000) << false << 0u
                              << QStringLiteral("нет заголовка RIFF");
    QTest::newRow("no WAVE") << with(good, 8, "AVI ") << qint64(2000) << false << 0u
                             << QStringLiteral("нет метки WAVE");
    QTest::newRow("no fmt") << with(good, 12, "junk") << qint64(2000) << false << 0u
                            << QStringLiteral("нет блока fmt");
    // A LIST chunk between fmt and data moves the data tag away from offset 36.
    QTest::newRow("extra chunk before data")
        << with(good, 36, "LIST") << qint64(2000) << false << 0u
        << QStringLiteral("нет блока data сразу после блока fmt");
    QTest::newRow("data longer than the file by one byte")
        << good << qint64(44 + 3 * Block + 99) << false << 0u
        << QStringLiteral("длина данных в заголовке больше файла");
    QTest::newRow("negative as signed") << stating(0x80000000u) << qint64(2000) << false << 0u
                                        << QStringLiteral("длина данных в заголовке больше файла");
    QTest::newRow("65536 blocks") << stating(65536u * Block) << qint64(44 + 65536 * Block) << false
                                  << 0u << QStringLiteral("больше 65535 блоков по 512 байт");
}

void TestUpload::headerCheck()
{
    QFETCH(QByteArray, header);
    QFETCH(qint64, fileSize);
    QFETCH(bool, ok);
    QFETCH(uint, blocks);
    QFETCH(QString, reason);

    const auto *data = reinterpret_cast<const std::uint8_t *>(header.constData());
    const WavHeader::Check check = WavHeader::check({data, std::size_t(header.size())}, fileSize);
    QCOMPARE(check.ok, ok);
    QCOMPARE(check.blocks, blocks);
    QCOMPARE(check.ok ? QString() : wavProblemText(check.problem), reason);
    if (ok)
        QCOMPARE(check.dataLength, qFromLittleEndian<quint32>(header.constData() + 40));
}

// ---- complete uploads ----------------------------------------------------------------------

// Over the real serial path.
void TestUpload::messageUploadOnTheWire()
{
    const QByteArray ppk1 = writeWav(QStringLiteral("PPK1.wav"), 3, 100, 1);
    writeWav(QStringLiteral("PPK2.wav"), 0, 300, 2);
    PtyBench b;
    QVERIFY(b.start());

    b.upload.run(Set::Messages);

    QCOMPARE(b.lines, MessageLog);
    // Counts 3 and 0 high byte first, then the three blocks; the remainders never go out.
    QCOMPARE(b.sim.received(), bytes({0x60, 0x00, 0x03, 0x00, 0x00}) + ppk1.left(3 * Block));
    QCOMPARE(recording(b.sim, QStringLiteral("PPK1.wav")).mid(44), ppk1.left(3 * Block));
    QCOMPARE(recording(b.sim, QStringLiteral("PPK2.wav")).mid(44), QByteArray());
    QCOMPARE(b.progress, (QList<int>{0, 1, 2, 3, 0, 0}));
    QVERIFY(!isLocked(QStringLiteral("PPK1.wav")));
    QVERIFY(!isLocked(QStringLiteral("PPK2.wav")));
}

void TestUpload::sirenUploadOnTheWire()
{
    const QByteArray siren = writeWav(QStringLiteral("SIREN.wav"), 5, 511, 3);
    Bench &b = bench();
    QVERIFY(b.start());

    b.upload.run(Set::Siren);

    QCOMPARE(b.lines, SirenLog);
    QCOMPARE(b.sim.received(), bytes({0x70, 0x00, 0x05}) + siren.left(5 * Block));
    QCOMPARE(recording(b.sim, QStringLiteral("SIREN.wav")).mid(44), siren.left(5 * Block));
    QCOMPARE(b.progress, (QList<int>{0, 1, 2, 3, 4, 5, 0}));
    QVERIFY(!isLocked(QStringLiteral("SIREN.wav")));
}

void TestUpload::uploadsInARow()
{
    const QByteArray ppk1 = writeWav(QStringLiteral("PPK1.wav"), 2, 7, 4);
    const QByteArray ppk2 = writeWav(QStringLiteral("PPK2.wav"), 4, 0, 5);
    const QByteArray siren = writeWav(QStringLiteral("SIREN.wav"), 3, 1, 6);
    const QByteArray messageWire =
        bytes({0x60, 0x00, 0x02, 0x00, 0x04}) + ppk1.left(2 * Block) + ppk2.left(4 * Block);
    const QByteArray sirenWire = bytes({0x70, 0x00, 0x03}) + siren.left(3 * Block);
    Bench &b = bench();
    QVERIFY(b.start());

    // siren, siren, messages, messages, siren: every pair of orders once.
    const QList<bool> isSiren{true, true, false, false, true};
    QByteArray expected;
    for (bool s : isSiren) {
        b.reset();
        b.upload.run(s ? Set::Siren : Set::Messages);
        QCOMPARE(b.lines, s ? SirenLog : MessageLog);
        QCOMPARE(b.bar, 0);
        expected += s ? sirenWire : messageWire;
    }
    QCOMPARE(b.sim.received(), expected);
    QCOMPARE(recording(b.sim, QStringLiteral("PPK1.wav")).mid(44), ppk1.left(2 * Block));
    QCOMPARE(recording(b.sim, QStringLiteral("PPK2.wav")).mid(44), ppk2.left(4 * Block));
    QCOMPARE(recording(b.sim, QStringLiteral("SIREN.wav")).mid(44), siren.left(3 * Block));
}

// ---- progress bar --------------------------------------------------------------------------

void TestUpload::progress_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("step"); // blocks per bar step
    QTest::addColumn<int>("full"); // where the bar stops

    QTest::newRow("99 blocks: one step a block") << 99 << 1 << 99;
    QTest::newRow("100 blocks: full with the last") << 100 << 1 << 100;
    QTest::newRow("250 blocks: full after 200") << 250 << 2 << 100;
    QTest::newRow("299 blocks: one block past the last step") << 299 << 2 << 100;
}

void TestUpload::progress()
{
    QFETCH(int, blocks);
    QFETCH(int, step);
    QFETCH(int, full);
    writeWav(QStringLiteral("SIREN.wav"), blocks, 0, 7);
    Bench &b = bench();
    QVERIFY(b.start());
    QList<ProgressCall> calls;
    b.onProgress = [&](int value) {
        calls << ProgressCall{value, int(b.sim.receivedCount() - 3) / Block};
    };

    QList<ProgressCall> expected{{0, 0}};
    for (int value = 1; value <= full; ++value)
        expected << ProgressCall{value, value * step};
    expected << ProgressCall{0, blocks};

    // Twice: a count left over from one upload does not move the next one's bar early.
    for (int run = 1; run <= 2; ++run) {
        b.reset();
        calls.clear();
        b.sim.clearRecord();
        b.upload.run(Set::Siren);
        QCOMPARE(b.lines, SirenLog);
        QCOMPARE(calls, expected);
    }
}

void TestUpload::progressCarriesOverToPpk2()
{
    // 1,005 PPK1 blocks (step 10) leave the counter at 5, so with PPK2's step of 8 the bar's
    // first PPK2 step comes after 3 blocks, and then every 8.
    writeWav(QStringLiteral("PPK1.wav"), 1005, 0, 8);
    writeWav(QStringLiteral("PPK2.wav"), 800, 0, 9);
    Bench &b = bench();
    QVERIFY(b.start());
    QList<ProgressCall> calls;
    b.onProgress = [&](int value) {
        calls << ProgressCall{value, int(b.sim.receivedCount() - 5) / Block};
    };

    b.upload.run(Set::Messages);

    QCOMPARE(b.lines, MessageLog);
    QList<ProgressCall> expected{{0, 0}};
    for (int value = 1; value <= 100; ++value)
        expected << ProgressCall{value, value * 10};
    expected << ProgressCall{0, 1005};
    for (int value = 1; value <= 100; ++value)
        expected << ProgressCall{value, 1005 + 3 + (value - 1) * 8};
    expected << ProgressCall{0, 1805};
    QCOMPARE(calls, expected);
}

// ---- files that cannot be used -------------------------------------------------------------

void TestUpload::missingFile_data()
{
    QTest::addColumn<bool>("siren");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("PPK1 missing") << false << QStringList{QStringLiteral("PPK2.wav")}
                                  << QStringList{QStringLiteral("Открытие PPK1.WAV"),
                                                 QStringLiteral("Файл PPK1.WAV не найден")};
    // Names are taken as they stand: a file spelt otherwise is not the one.
    QTest::newRow("siren missing") << true << QStringList{QStringLiteral("siren.wav")}
                                   << QStringList{QStringLiteral("Открытие SIREN.WAV"),
                                                  QStringLiteral("Файл SIREN.wav не найден")};
}

void TestUpload::missingFile()
{
    QFETCH(bool, siren);
    QFETCH(QStringList, present);
    QFETCH(QStringList, log);
    for (const QString &name : present)
        writeWav(name, 2, 0, 10);
    Bench &b = bench();
    QVERIFY(b.start());

    b.upload.run(siren ? Set::Siren : Set::Messages);

    QCOMPARE(b.lines, log);
    QCOMPARE(b.sim.received(), QByteArray());
    QVERIFY(b.progress.isEmpty());
    for (const QString &name : present)
        QVERIFY2(!isLocked(name), qPrintable(name));
}

void TestUpload::missingPpk2ThenPresent()
{
    const QByteArray ppk1 = writeWav(QStringLiteral("PPK1.wav"), 2, 0, 11);
    Bench &b = bench();
    QVERIFY(b.start());

    b.upload.run(Set::Messages);
    QCOMPARE(b.lines,
             MessageLog.mid(0, 2) + QStringList{QStringLiteral("Файл PPK2.wav не найден")});
    QCOMPARE(b.sim.received(), QByteArray());
    QVERIFY(b.progress.isEmpty());
    QVERIFY(!isLocked(QStringLiteral("PPK1.wav")));

    const QByteArray ppk2 = writeWav(QStringLiteral("PPK2.wav"), 1, 0, 12);
    b.reset();
    b.upload.run(Set::Messages);
    QCOMPARE(b.lines, MessageLog);
    QCOMPARE(b.sim.received(),
             bytes({0x60, 0x00, 0x02, 0x00, 0x01}) + ppk1.left(2 * Block) + ppk2.left(Block));
}

void TestUpload::lockedFileCountsAsMissing()
{
    writeWav(QStringLiteral("PPK1.wav"), 1, 0, 13);
    writeWav(QStringLiteral("PPK2.wav"), 1, 0, 14);
    Bench &b = bench();
    QVERIFY(b.start());

    // Another holder takes PPK2.wav through its own descriptor.
    const int fd = ::open("PPK2.wav", O_RDONLY);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    b.upload.run(Set::Messages);
    ::close(fd);

    QCOMPARE(b.lines,
             MessageLog.mid(0, 2) + QStringList{QStringLiteral("Файл PPK2.wav не найден")});
    QCOMPARE(b.sim.received(), QByteArray());
    QVERIFY(!isLocked(QStringLiteral("PPK1.wav")));

    b.reset();
    b.upload.run(Set::Messages);
    QCOMPARE(b.lines, MessageLog);
}

void TestUpload::fileHeldWhileUploading()
{
    writeWav(QStringLiteral("PPK1.wav"), 2, 0, 15);
    writeWav(QStringLiteral("PPK2.wav"), 2, 0, 16);
    Bench &b = bench();
    QVERIFY(b.start());
    QStringList heldAt;
    b.onLine = [&](const QString &line) {
        if (isLocked(QStringLiteral("PPK1.wav")) && isLocked(QStringLiteral("PPK2.wav")))
            heldAt << line;
    };

    b.upload.run(Set::Messages);

    // Both are held from the moment PPK2.wav is open until the last line.
    QCOMPARE(heldAt, MessageLog.mid(2));
    QVERIFY(!isLocked(QStringLiteral("PPK1.wav")));
    QVERIFY(!isLocked(QStringLiteral("PPK2.wav")));
}

void TestUpload::rejectedFile_data()
{
    QTest::addColumn<QString>("badName");
    QTest::addColumn<QByteArray>("badContent");
    QTest::addColumn<qint64>("resizeTo"); // 0: as written
    QTest::addColumn<QString>("line");

    QByteArray noRiff = wavHeader(Block) + samples(Block, 17);
    noRiff.replace(0, 4, "RIFX");
    QByteArray noWave = wavHeader(Block) + samples(Block, 18);
    noWave.replace(8, 4, "WAVX");

    QTest::newRow("PPK1 not RIFF") << QStringLiteral("PPK1.wav") << noRiff << qint64(0)
                                   << QStringLiteral("Файл PPK1.wav: нет заголовка RIFF");
    QTest::newRow("PPK2 without WAVE") << QStringLiteral("PPK2.wav") << noWave << qint64(0)
                                       << QStringLiteral("Файл PPK2.wav: нет метки WAVE");
    QTest::newRow("PPK2 short") << QStringLiteral("PPK2.wav") << wavHeader(0).left(20) << qint64(0)
                                << QStringLiteral(
                                       "Файл PPK2.wav: файл короче заголовка WAV (44 байта)");
    QTest::newRow("SIREN data cut off")
        << QStringLiteral("SIREN.wav") << wavHeader(4 * Block) + samples(3 * Block, 19) << qint64(0)
        << QStringLiteral("Файл SIREN.wav: длина данных в заголовке больше файла");
    // A sparse file of the full size: the length fits the file, the count does not fit 16 bits.
    QTest::newRow("SIREN of 65536 blocks")
        << QStringLiteral("SIREN.wav") << wavHeader(65536u * Block) << qint64(44 + 65536 * Block)
        << QStringLiteral("Файл SIREN.wav: больше 65535 блоков по 512 байт");
}

void TestUpload::rejectedFile()
{
    QFETCH(QString, badName);
    QFETCH(QByteArray, badContent);
    QFETCH(qint64, resizeTo);
    QFETCH(QString, line);
    const bool siren = badName == QStringLiteral("SIREN.wav");
    const QStringList names =
        siren ? QStringList{badName}
              : QStringList{QStringLiteral("PPK1.wav"), QStringLiteral("PPK2.wav")};
    for (const QString &name : names)
        writeWav(name, 2, 0, 20);
    writeFile(badName, badContent);
    if (resizeTo > 0)
        QVERIFY(QFile::resize(badName, resizeTo));
    Bench &b = bench();
    QVERIFY(b.start());

    b.upload.run(siren ? Set::Siren : Set::Messages);

    // The opening lines up to the file refused, then the one line that says why.
    const int opened = badName == QStringLiteral("PPK2.wav") ? 2 : 1;
    QCOMPARE(b.lines, (siren ? SirenLog : MessageLog).mid(0, opened) + QStringList{line});
    QCOMPARE(b.sim.received(), QByteArray());
    QVERIFY(b.progress.isEmpty());
    for (const QString &name : names)
        QVERIFY2(!isLocked(name), qPrintable(name));
}

// ---- a unit that fails -----------------------------------------------------------------------

void TestUpload::lostUnit_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("wire"); // what the unit got before it was lost
    QTest::addColumn<bool>("begun");      // whether the blocks had begun
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("waitsTheBound");

    const QString noAnswer = QStringLiteral("Нет ответа от устройства");
    const QString lost = QStringLiteral("Связь с устройством потеряна");
    const QByteArray data = samples(5 * Block, LostSeed);
    const QByteArray head = bytes({0x70, 0x00, 0x05});

    QTest::newRow("silent from the start")
        << QStringLiteral("fault silent") << bytes({0x70}) << false << noAnswer << true;
    QTest::newRow("stops after block 2") << QStringLiteral("fault stop-after 2")
                                         << head + data.left(3 * Block) << true << noAnswer << true;
    QTest::newRow("0xFF without 'U'")
        << QStringLiteral("fault ffonly") << head + data.left(Block) << true << noAnswer << true;
    QTest::newRow("'U' without 0xFF")
        << QStringLiteral("fault uonly") << head + data.left(Block) << true << noAnswer << true;
    QTest::newRow("hangs up on block 3") << QStringLiteral("fault hangup-after 3")
                                         << head + data.left(3 * Block) << true << lost << false;
    QTest::newRow("line down before the command")
        << QStringLiteral("hangup") << QByteArray() << false << lost << false;
}

void TestUpload::lostUnit()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, wire);
    QFETCH(bool, begun);
    QFETCH(QString, line);
    QFETCH(bool, waitsTheBound);
    writeWav(QStringLiteral("SIREN.wav"), 5, 0, LostSeed);
    Bench &b = bench();
    QVERIFY(b.start());
    b.sim.ok(fault);

    const qint64 start = b.sim.clock().now();
    b.upload.run(Set::Siren);
    const qint64 took = b.sim.clock().now() - start;

    QCOMPARE(b.lines, SirenLog.mid(0, begun ? 4 : 2) + QStringList{line});
    QVERIFY(!b.progress.isEmpty());
    QCOMPARE(b.progress.last(), 0);
    QCOMPARE(b.bar, 0);
    QVERIFY(!isLocked(QStringLiteral("SIREN.wav")));
    QCOMPARE(b.sim.received(), wire);
    if (waitsTheBound) {
        QVERIFY2(took >= SoundUpload::ReplyBoundMs, qPrintable(QString::number(took)));
        QVERIFY2(took < 3 * SoundUpload::ReplyBoundMs, qPrintable(QString::number(took)));
    } else {
        QVERIFY2(took < SoundUpload::ReplyBoundMs, qPrintable(QString::number(took)));
    }
}

void TestUpload::garbageBetweenAcknowledgements()
{
    const QByteArray ppk1 = writeWav(QStringLiteral("PPK1.wav"), 3, 5, 22);
    const QByteArray ppk2 = writeWav(QStringLiteral("PPK2.wav"), 2, 0, 23);
    Bench &b = bench();
    QVERIFY(b.start());
    b.sim.ok(QStringLiteral("fault garbage 3"));

    b.upload.run(Set::Messages);

    QCOMPARE(b.lines, MessageLog);
    QCOMPARE(b.sim.received(),
             bytes({0x60, 0x00, 0x03, 0x00, 0x02}) + ppk1.left(3 * Block) + ppk2.left(2 * Block));
    QCOMPARE(recording(b.sim, QStringLiteral("PPK2.wav")).mid(44), ppk2.left(2 * Block));
    QCOMPARE(b.progress, (QList<int>{0, 1, 2, 3, 0, 1, 2, 0}));
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
