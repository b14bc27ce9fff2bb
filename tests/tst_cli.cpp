// tarvik2-cli as its users run it: the built program against unit simulators on real ptys,
// judged by its exit status, its output and the bytes the units received.

#include "support/ptypeer.h"
#include "support/simprocess.h"
#include "support/wavfile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef TARVIK2_CLI_PATH
#error "TARVIK2_CLI_PATH must name the tarvik2-cli binary"
#endif

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// setup: anything to do to the process before it starts (its standard output, its limits).
Run cli(const QStringList &arguments, const std::function<void(QProcess &)> &setup = {})
{
    QProcess process;
    if (setup)
        setup(process);
    process.start(QStringLiteral(TARVIK2_CLI_PATH), arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Flag bytes of 2 and 255 and track-bar bytes outside their bars: what the unit may hold
// that no write of the window would produce. The rest at random.
QByteArray oddBlock(quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray b(512, '\0');
    for (char &c : b)
        c = char(random.bounded(256));
    b[1] = 1;
    b[8] = 2;
    b[9] = char(255);
    b[22] = 0;
    b[23] = 1;
    b[38] = 25;
    b[42] = char(200);
    b[43] = 0;
    return b;
}

QByteArray fileWith(const QByteArray &json, const QString &path)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(json);
    return json;
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// A folder with little room: a tmpfs of `bytes` where the test may mount one, else a plain
// folder whose writers (the tool, through limit()) may make no file larger than `bytes`.
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes) : m_room(bytes)
    {
        const QByteArray options = "size=" + QByteArray::number(bytes);
        m_mounted = m_dir.isValid() && ::mount("tmpfs", QFile::encodeName(m_dir.path()), "tmpfs",
                                               MS_NOSUID | MS_NODEV, options.constData()) == 0;
        rlimit current{};
        m_usable = m_dir.isValid() && (m_mounted || (::getrlimit(RLIMIT_FSIZE, &current) == 0 &&
                                                     current.rlim_max >= rlim_t(bytes)));
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()), MNT_DETACH);
    }
    bool usable() const { return m_usable; }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList entries() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden); }

    // Takes what room is left: a file of its own on the tmpfs. Otherwise files are limited to
    // 512 bytes: room for the serial port's lock file, none for a settings file.
    void fill()
    {
        if (!m_mounted) {
            m_room = 512;
            return;
        }
        QFile filler(path(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly))
            return;
        const QByteArray page(4096, 'x');
        while (filler.write(page) == page.size() && filler.flush()) {
        }
    }
    void limit(QProcess &process) const
    {
        if (m_mounted)
            return;
        const rlim_t room = rlim_t(m_room);
        process.setChildProcessModifier([room] {
            const rlimit limit{room, room};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }

private:
    QTemporaryDir m_dir;
    qint64 m_room;
    bool m_mounted = false;
    bool m_usable = false;
};

// What a unit played by the test does with a written block: take it and answer the next read
// short, or hang up in the middle of it.
enum class AfterWrite { ShortReply, HangUpInBlock };

// Runs the tool against a unit played on `peer`: it answers the handshake, and every read
// before the write with `block`.
Run againstPlayedUnit(PtyPeer &peer, const QStringList &arguments, AfterWrite after)
{
    const QByteArray block = oddBlock(21);
    QProcess process;
    // The unit's pause at its real length: the unit hangs up well within it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARVIK2_CLOCK_SPEEDUP"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARVIK2_CLI_PATH), arguments);
    int blockBytes = -1; // of a written block taken so far; -1 outside one
    bool written = false;
    QElapsedTimer bound;
    bound.start();
    while (!process.waitForFinished(1) && bound.elapsed() < 60000) {
        for (const char byte : peer.readAvailable(5)) {
            if (blockBytes >= 0) {
                ++blockBytes;
                if (after == AfterWrite::HangUpInBlock && blockBytes == 300)
                    peer.hangUp();
                if (blockBytes == 512) {
                    blockBytes = -1;
                    written = true;
                }
            } else if (byte == 'U') {
                peer.write("W");
            } else if (byte == 'S') {
                blockBytes = 0;
            } else if (byte == 'R' && !written) {
                peer.write(block);
            } else if (byte == 'R' && after == AfterWrite::ShortReply) {
                peer.write(block.left(100));
            }
        }
    }
    Run run;
    if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The tool running beside the test, which meanwhile acts on its unit and waits for what the
// tool says on standard error.
class Running {
public:
    explicit Running(const QStringList &arguments, const QProcessEnvironment &environment =
                                                       QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(TARVIK2_CLI_PATH), arguments);
        m_process.waitForStarted();
    }
    ~Running()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Whether done() came true within 30 s, standard error gathered meanwhile.
    bool waitFor(const std::function<bool()> &done)
    {
        QElapsedTimer bound;
        bound.start();
        while (!done() && bound.elapsed() < 30000 && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(5);
            err += QString::fromUtf8(m_process.readAllStandardError());
        }
        return done();
    }
    bool said(const QString &text)
    {
        return waitFor([&] { return err.contains(text); });
    }
    bool signal(int number) { return ::kill(pid_t(m_process.processId()), number) == 0; }
    qint64 pid() const { return m_process.processId(); }
    // The exit status once the tool has ended of itself within boundMs; -1 otherwise.
    int finish(int boundMs = 30000)
    {
        const bool ended = m_process.waitForFinished(boundMs);
        err += QString::fromUtf8(m_process.readAllStandardError());
        out = QString::fromUtf8(m_process.readAllStandardOutput());
        return ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QString out;
    QString err;

private:
    QProcess m_process;
};

// A settings file with no fields of its own: the block alone.
QString blockFile(const QByteArray &block, const QString &path)
{
    fileWith(QStringLiteral("{\"format\": \"tarvik2-settings\", \"version\": 1, \"fields\": {}, "
                            "\"block\": \"%1\"}")
                 .arg(QString::fromLatin1(block.toHex()))
                 .toUtf8(),
             path);
    return path;
}

QString hexByte(char byte)
{
    return QStringLiteral("0x%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
}

// The wire as the unit saw it for one write: 'U', the block read twice to confirm it, 'S' and
// the block, the read-back twice, 'Z'.
QByteArray writeOnWire(const QByteArray &block)
{
    return QByteArray("URRS") + block + QByteArray("RRZ");
}

} // namespace

Q_DECLARE_METATYPE(AfterWrite)

class CliTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void portsAndLinksKnowTheAdapter();
    void doctorNamesWhatStandsInTheWay();
    void roundTripKeepsWhatTheUnitHolds();
    void refusalsSendNothing_data();
    void refusalsSendNothing();
    void readBackMismatchAndShortBlocks();
    void shiftedRepliesAreNeverTaken();
    void differenceLinesShowBothBytes();
    void diffOfAUnitThatCannotBeRead_data();
    void diffOfAUnitThatCannotBeRead();
    void parallelRunCarriesOnPastAFailedUnit();
    void uploadsSendOneReadingToEveryPort();
    void siteKeepsABackupBeforeEveryChangeAndAChainedJournal();
    void failuresAfterTheBlockSayWhatHappened_data();
    void failuresAfterTheBlockSayWhatHappened();
    void interruptedWriteSaysWhatTheUnitHolds();
    void monitorWaitsForItsOwnAdapter();
    void fullDiskKeepsTheBackupAndSaysSo();
    void failedLogWritesEndTheLog();
    void filesThatAreNoRegularFilesSendNothing();

private:
    QTemporaryDir m_work;
};

void CliTest::initTestCase()
{
    QVERIFY(m_work.isValid());
    // The unit's 10 s pause in 10 ms; serial time-outs stay real.
    qputenv("TARVIK2_CLOCK_SPEEDUP", "1000");
}

// What each port is, past the window's COM1-COM20: its device, free or held, its stable name
// and USB identity; and the links that name a device by them.
void CliTest::portsAndLinksKnowTheAdapter()
{
    ComFolder folder;
    // A made-up system: /sys and udev's /dev/serial links, as the simulators describe their
    // ptys, each a USB chip in a socket of its own.
    QTemporaryDir system;
    const QString sys = system.filePath("sys"), root = system.filePath("root");
    qputenv("TARVIK2_SYS_ROOT", QFile::encodeName(sys));
    qputenv("TARVIK2_ROOT", QFile::encodeName(root));
    const auto restore = qScopeGuard([] {
        qunsetenv("TARVIK2_SYS_ROOT");
        qunsetenv("TARVIK2_ROOT");
    });
    const auto usb = [&](const char *id, const char *socket) {
        return QStringList{"--fast", "--sys-root", sys,          "--root", root,
                           "--usb",  id,           "--usb-port", socket};
    };
    SimProcess unique(folder.path(), "COM5", usb("0403:6001:A10K1234", "1-1"));
    SimProcess shared1(folder.path(), "COM6", usb("10c4:ea60:0001", "1-2"));
    SimProcess shared2(folder.path(), "COM7", usb("10c4:ea60:0001", "1-3"));
    SimProcess noSerial(folder.path(), "COM8", usb("1a86:7523", "1-4"));
    SimProcess unlisted(folder.path(), "COM12", usb("0403:6015:B20K5678", "1-5"));
    SimProcess last(folder.path(), "COM40");
    SimProcess held(folder.path(), "COM21");
    for (SimProcess *sim : {&unique, &shared1, &shared2, &noSerial, &unlisted, &last, &held})
        QVERIFY(sim->start());
    folder.unlink("COM12"); // falls back to /dev/ttyUSB7, which is not there
    const int fd = ::open(qPrintable(held.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const Run run = cli({"ports"});
    const Run all = cli({"ports", "--all", "--json"});
    ::close(fd);

    // One line per COM name that reaches a device, its first two columns as they always were.
    QCOMPARE(run.status, 0);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QVERIFY2(lines[0].startsWith("COM5 " + unique.slavePath() + "  free  " + root +
                                 "/dev/serial/by-id/usb-0403_6001_A10K1234-if00-port0  USB "
                                 "0403:6001 serial A10K1234"),
             qPrintable(lines[0]));
    QVERIFY2(lines[3].contains("USB 1a86:7523 no serial"), qPrintable(lines[3]));
    QVERIFY2(lines[4].startsWith("COM21 " + held.slavePath() + "  busy (tst_cli (pid "),
             qPrintable(lines[4]));
    QVERIFY2(lines[5].startsWith("COM40 " + last.slavePath() + "  free  no stable name  no USB"),
             qPrintable(lines[5]));
    // --all adds the device no COM name reaches; --json says the same.
    QCOMPARE(all.status, 0);
    const QJsonArray devices = QJsonDocument::fromJson(all.out.toUtf8()).array();
    QCOMPARE(devices.size(), 7);
    const QJsonObject extra = devices.last().toObject();
    QCOMPARE(extra.value("com"), QJsonValue());
    QCOMPARE(extra.value("device").toString(), unlisted.slavePath());
    QCOMPARE(extra.value("serial").toString(), QStringLiteral("B20K5678"));
    QCOMPARE(devices[4].toObject().value("state").toString(), QStringLiteral("busy"));

    // link: by-id for a serial of its own; by-path, with a warning, for a shared serial or
    // none; the node itself, with a warning, where nothing more stable is there.
    const struct {
        const char *com;
        QString device, target, warning;
    } links[] = {
        {"COM9",
         unique.slavePath(),
         root + "/dev/serial/by-id/usb-0403_6001_A10K1234-if00-port0",
         {}},
        {"COM10", shared1.slavePath(),
         root + "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
         "both report USB 10c4:ea60 serial 0001"},
        {"COM11", noSerial.slavePath(),
         root + "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0",
         "reports no serial, so COM11 is now tied to the USB socket"},
        {"COM13", last.slavePath(), last.slavePath(), "has no stable name"},
    };
    for (const auto &link : links) {
        const Run made = cli({"link", link.com, link.device});
        QCOMPARE(made.status, 0);
        QCOMPARE(QFile::symLinkTarget(folder.path() + '/' + link.com), link.target);
        QVERIFY2(link.warning.isEmpty() ? made.err.isEmpty() : made.err.contains(link.warning),
                 qPrintable(made.err));
    }
    // The COM name now reaches the device through its stable name, as the window finds it too.
    QVERIFY(cli({"ports"}).out.contains("COM9 " + unique.slavePath() + "  free"));
    QCOMPARE(cli({"link", "--remove", "COM9"}).status, 0);
    QVERIFY(!QFileInfo(folder.path() + "/COM9").isSymLink());
    QCOMPARE(cli({"link", "COM9", "/dev/null"}).status, 2);
    QVERIFY(!QFileInfo(folder.path() + "/COM9").isSymLink());
}

// On a made-up system where brltty's rules take the CH340 and a COM link leads nowhere, doctor
// names both with their fixes and fails, sending the unit nothing; with both put right, every
// check passes, a handshake included.
void CliTest::doctorNamesWhatStandsInTheWay()
{
    QTemporaryDir system;
    const QString sys = system.filePath("sys"), root = system.filePath("root"),
                  com = system.filePath("com");
    qputenv("TARVIK2_SYS_ROOT", QFile::encodeName(sys));
    qputenv("TARVIK2_ROOT", QFile::encodeName(root));
    const auto restore = qScopeGuard([] {
        qunsetenv("TARVIK2_SYS_ROOT");
        qunsetenv("TARVIK2_ROOT");
    });
    for (const char *folder :
         {"/usr/bin", "/usr/lib/udev/rules.d", "/etc/udev/rules.d", "/run/udev/data"})
        QVERIFY(QDir().mkpath(root + folder));
    QVERIFY(QDir().mkpath(com));
    SimProcess sim(com, "COM5",
                   {"--fast", "--sys-root", sys, "--root", root, "--usb", "1a86:7523"});
    QVERIFY(sim.start());
    // brltty as Debian ships it; of its rules only the last line takes this chip.
    fileWith("", root + "/usr/bin/brltty");
    fileWith("# Device: 1A86:7523\n"
             "#ENV{PRODUCT}==\"1a86/7523/*\", GOTO=\"brltty_usb_run\"\n"
             "ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"5523\", GOTO=\"brltty_usb_run\"\n"
             "ATTRS{idVendor}==\"1a86\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\"\n"
             "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", "
             "GOTO=\"brltty_usb_run\"\n",
             root + "/usr/lib/udev/rules.d/85-brltty.rules");
    // Whether or not ModemManager runs here, udev tells it to leave the port alone.
    struct stat node {};
    QCOMPARE(::stat(QFile::encodeName(sim.slavePath()).constData(), &node), 0);
    fileWith("E:ID_MM_DEVICE_IGNORE=1\n", root + QStringLiteral("/run/udev/data/c%1:%2")
                                                     .arg(major(node.st_rdev))
                                                     .arg(minor(node.st_rdev)));
    QVERIFY(QFile::link(com + "/unplugged", com + "/COM7"));
    const QString port = "COM5 " + sim.slavePath() + ": ";

    const Run broken = cli({"--com-dir", com, "doctor"});
    QCOMPARE(broken.status, 3);
    QVERIFY2(
        broken.out.contains(
            "FAIL  " + port +
            "brltty's udev rules take 1a86:7523 for a braille display "
            "(/usr/lib/udev/rules.d/85-brltty.rules:5): it takes the adapter about half a "
            "second after it appears, and the port vanishes\n      fix: sudo apt-get remove "
            "brltty, or mask the rule: sudo ln -s /dev/null /etc/udev/rules.d/85-brltty.rules"),
        qPrintable(broken.out));
    QVERIFY2(broken.out.contains("FAIL  COM folder " + com + ": links that lead nowhere: COM7 -> " +
                                 com + "/unplugged\n      fix: tarvik2-cli --com-dir " + com +
                                 " link --remove COM7\n"),
             qPrintable(broken.out));
    QCOMPARE(broken.out.count("FAIL"), 2);
    // Of the COM names, only COM5 leads to a device the made-up system has.
    for (const QString &line : broken.out.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(line.contains(port) || line.contains("COM folder") ||
                     line.startsWith("      fix: "),
                 qPrintable(line));
    QCOMPARE(sim.received(), QByteArray());

    QVERIFY(QFile::link("/dev/null", root + "/etc/udev/rules.d/85-brltty.rules"));
    QVERIFY(QFile::remove(com + "/COM7"));
    const Run mended = cli({"--com-dir", com, "doctor", "-p", "COM5"});
    QCOMPARE(mended.status, 0);
    QVERIFY2(!mended.out.contains("FAIL"), qPrintable(mended.out));
    QVERIFY2(mended.out.contains("ok    " + port + "a unit answered the handshake\n"),
             qPrintable(mended.out));
    QCOMPARE(sim.received(), QByteArray("UZ"));
}

void CliTest::roundTripKeepsWhatTheUnitHolds()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const QByteArray unit = oddBlock(7);
    sim.setBlock(unit);
    const QString file = m_work.filePath(QStringLiteral("backup.json"));

    const Run read = cli({"read", "-p", "COM5", "-o", file});
    QCOMPARE(read.status, 0);
    const QString text = readText(file);
    const QJsonObject root = QJsonDocument::fromJson(text.toUtf8()).object();
    QCOMPARE(root.value("block").toString(), QString::fromLatin1(unit.toHex()));
    const QJsonObject fields = root.value("fields").toObject();
    QCOMPARE(fields.size(), 28);
    QCOMPARE(fields.value("board_lit_on_duty"), QJsonValue(false)); // byte 2
    QCOMPARE(fields.value("relay_on_ppk2"), QJsonValue(true));
    QCOMPARE(fields.value("supervision_frequency"), QJsonValue(200));
    QCOMPARE(fields.value("launch_count").toInt(), (uchar(unit[4]) << 8) | uchar(unit[5]));
    // Two-space indentation, fields in block order.
    QVERIFY(text.contains("\n  \"fields\": {\n    \"software_version\": "));
    QVERIFY(text.indexOf("\"board_blink_rate\"") < text.indexOf("\"message_volume\""));
    QVERIFY(text.indexOf("\"trigger_level\"") < text.indexOf("\"relay_on_ppk1\""));

    // Written back unchanged: exactly the bytes that were read, odd ones included.
    sim.clearRecord();
    const Run same = cli({"write", "-p", "COM5", file});
    QCOMPARE(same.status, 0);
    QCOMPARE(sim.received(), writeOnWire(unit));

    // A clone changes the address alone; the odd bytes it does not touch stay.
    sim.clearRecord();
    const Run clone = cli({"write", "-p", "COM5", file, "--set", "network_address=9", "--set",
                           "board_lit_on_duty=true"});
    QCOMPARE(clone.status, 0);
    QByteArray expected = unit;
    expected[6] = 9;
    expected[8] = 1;
    QCOMPARE(sim.received(), writeOnWire(expected));
    QCOMPARE(sim.block(), expected);
    QVERIFY(clone.out.contains("network_address: " + QString::number(uchar(unit[6])) + " -> 9"));

    // The backup restores the unit whole but for its informative fields: the launch count,
    // and the device type that --force overrides, stay the unit's own.
    QByteArray other = oddBlock(8);
    sim.setBlock(other);
    QCOMPARE(cli({"write", "-p", "COM5", file, "--whole"}).status, 0);
    QByteArray restored = unit;
    restored[4] = other[4];
    restored[5] = other[5];
    QCOMPARE(sim.block(), restored);
    other[1] = 2;
    sim.setBlock(other);
    QCOMPARE(cli({"write", "-p", "COM5", file, "--whole", "--force"}).status, 0);
    restored[1] = 2;
    QCOMPARE(sim.block(), restored);
    // diff then finds nothing once the unit holds what the file does.
    sim.setBlock(unit);
    QCOMPARE(cli({"diff", file, "port:COM5"}).status, 0);
    sim.setBlock(expected);
    const Run diff = cli({"diff", "port:COM5", file});
    QCOMPARE(diff.status, 1);
    QCOMPARE(diff.out, "network_address: 9 -> " + QString::number(uchar(unit[6])) +
                           "\nboard_lit_on_duty: true -> false (byte 2)\n");
}

void CliTest::refusalsSendNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("fieldsJson"); // the "fields" of the file written
    QTest::addColumn<QString>("named");      // what the refusal must name
    QTest::addColumn<bool>("readFirst");     // refused only once the unit's block is known

    const QStringList write{"write", "-p", "COM5"};
    QTest::newRow("unknown key") << write << "{\"volume\": 3}"
                                 << "volume" << false;
    QTest::newRow("flag as number") << write << "{\"relay_on_ppk1\": 1}"
                                    << "relay_on_ppk1" << false;
    QTest::newRow("outside width") << write << "{\"network_address\": 256}"
                                   << "0-255" << false;
    QTest::newRow("word outside width") << write << "{\"trigger_level\": 65536}"
                                        << "0-65535" << false;
    QTest::newRow("malformed set") << write + QStringList{"--set", "network_address"} << "{}"
                                   << "KEY=VALUE" << false;
    QTest::newRow("key twice") << write << "{\"alert_zone\": 1, \"alert_zone\": 2}"
                               << "\"alert_zone\" is given twice" << false;
    QTest::newRow("set twice") << write +
                                      QStringList{"--set", "alert_zone=1", "--set", "alert_zone=2"}
                               << "{}"
                               << "--set alert_zone is given twice" << false;
    QTest::newRow("informative set") << write + QStringList{"--set", "launch_count=3"} << "{}"
                                     << "launch_count" << false;
    QTest::newRow("no such port") << QStringList{"write", "-p", "COM5,COM41"} << "{}"
                                  << "COM41" << false;
    QTest::newRow("track bar changed out of range") << write << "{\"message_volume\": 17}"
                                                    << "2-16" << true;
    QTest::newRow("track bar set out of range")
        << write + QStringList{"--set", "board_blink_rate=1"} << "{}"
        << "2-20" << true;
    QTest::newRow("whole from another device type") << write + QStringList{"--whole"} << "{}"
                                                    << "device type" << true;
}

void CliTest::refusalsSendNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, fieldsJson);
    QFETCH(QString, named);
    QFETCH(bool, readFirst);

    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    QByteArray unit = oddBlock(3);
    sim.setBlock(unit);
    QByteArray fileBlock = unit;
    fileBlock[1] = 2; // another device type
    const QString file = m_work.filePath(QStringLiteral("refused.json"));
    fileWith(QStringLiteral("{\"format\": \"tarvik2-settings\", \"version\": 1, \"fields\": %1, "
                            "\"block\": \"%2\"}")
                 .arg(fieldsJson, QString::fromLatin1(fileBlock.toHex()))
                 .toUtf8(),
             file);
    sim.clearRecord();

    const Run run = cli(arguments + QStringList{file});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(named), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(sim.received(), readFirst ? QByteArray("URRZ") : QByteArray());
    QCOMPARE(sim.block(), unit);
}

void CliTest::readBackMismatchAndShortBlocks()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const QByteArray unit = oddBlock(11);
    sim.setBlock(unit);
    const QString file = m_work.filePath(QStringLiteral("verify.json"));
    QCOMPARE(cli({"read", "-p", "COM5", "-o", file}).status, 0);

    // The unit stores three pass-through bytes from offset 100 changed.
    sim.ok("fault misstore 3");
    const Run corrupt = cli({"write", "-p", "COM5", file, "--set", "alert_zone=5"});
    QCOMPARE(corrupt.status, 5);
    for (int offset : {100, 101, 102})
        QVERIFY2(
            corrupt.err.contains(QStringLiteral("\n  offset %1: %2 written, read back %3\n")
                                     .arg(offset)
                                     .arg(hexByte(unit[offset]), hexByte(unit[offset] ^ 0x5a))),
            qPrintable(corrupt.err));
    QVERIFY(!corrupt.err.contains("offset 103"));
    QVERIFY(!corrupt.out.contains("verified"));
    sim.ok("fault none");

    // A block that comes short is neither saved nor written over.
    sim.ok("fault short 100");
    const QString shortFile = m_work.filePath(QStringLiteral("short.json"));
    const Run shortRead = cli({"read", "-p", "COM5", "-o", shortFile});
    QCOMPARE(shortRead.status, 4);
    QVERIFY(shortRead.err.contains("100 of 512"));
    QVERIFY(!QFile::exists(shortFile));
    sim.clearRecord();
    QCOMPARE(cli({"write", "-p", "COM5", file}).status, 4);
    QVERIFY(!sim.received().contains('S'));
}

// Junk ahead of a reply and its tail after a gap make up a block or a measurement on the wire
// that the unit never sent: nothing of it is saved, compared, written over or logged.
void CliTest::shiftedRepliesAreNeverTaken()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const QByteArray unit = oddBlock(12);
    sim.setBlock(unit);
    const QString base = m_work.filePath(QStringLiteral("shift-base.json"));
    QCOMPARE(cli({"read", "-p", "COM5", "-o", base}).status, 0);
    const auto savedBlock = [](const QString &path) {
        const QJsonObject root = QJsonDocument::fromJson(readText(path).toUtf8()).object();
        return QByteArray::fromHex(root.value(QStringLiteral("block")).toString().toLatin1());
    };
    QCOMPARE(savedBlock(base), unit);

    sim.ok("fault late 6");
    for (int gap : {3, 20}) {
        const QString shift = QStringLiteral("fault shift-once 5 %1").arg(gap);
        const QString saved = m_work.filePath(QStringLiteral("shift-%1.json").arg(gap));
        sim.ok(shift);
        const Run read = cli({"read", "-p", "COM5", "-o", saved});
        QVERIFY2(read.status == 0 ? savedBlock(saved) == unit
                                  : read.status == 4 && !QFile::exists(saved),
                 qPrintable(shift + ": read " + read.err));
        sim.ok(shift);
        const Run diff = cli({"diff", base, "port:COM5"});
        QVERIFY2(diff.status == 0 || diff.status == 4, qPrintable(shift + ": diff " + diff.out));
        sim.ok(shift);
        const Run write = cli({"write", "-p", "COM5", base, "--set", "network_address=18"});
        QByteArray wanted = unit;
        if (write.status == 0)
            wanted[6] = 18;
        QVERIFY2(write.status == 0 || write.status == 4,
                 qPrintable(shift + ": write " + write.err));
        QCOMPARE(sim.block(), wanted);
        sim.setBlock(unit);
    }

    // Measurements: every row is one the unit sent; replies whose tail comes after their
    // time-out, one request after another, give no row at all.
    sim.ok("fault none");
    sim.ok("measure 1 2 3 4 800 2400");
    sim.ok("fault shift-once 3 1");
    const Run shifted = cli({"monitor", "-p", "COM5", "--count", "4", "--interval", "0"});
    const QStringList rows = shifted.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
    QVERIFY2(!rows.isEmpty(), qPrintable(shifted.err));
    for (const QString &row : rows)
        QVERIFY2(row.endsWith(",1,2,3,4,800,2400"), qPrintable(row));
    // Missed replies do not count towards --count: Ctrl+C ends this log, which has no row.
    sim.ok("fault split 1 200");
    Running late({"monitor", "-p", "COM5", "--count", "4", "--interval", "0"});
    QVERIFY2(late.said("(5 missed so far)"), qPrintable(late.err));
    QVERIFY(late.signal(SIGINT));
    QCOMPARE(late.finish(), 4);
    QCOMPARE(late.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 1); // the heading
    QVERIFY2(late.err.contains("\n0 rows, "), qPrintable(late.err));
}

void CliTest::differenceLinesShowBothBytes()
{
    // Two pass-through bytes differ; the named fields are the same.
    QByteArray before = oddBlock(5);
    before[2] = 0x01;
    before[100] = char(0xbf);
    QByteArray after = before;
    after[2] = 0x07;
    after[100] = char(0xe5);
    const QString a = blockFile(before, m_work.filePath(QStringLiteral("before.json")));
    const QString b = blockFile(after, m_work.filePath(QStringLiteral("after.json")));
    const QString lines = QStringLiteral("offset 2: 0x01 -> 0x07\noffset 100: 0xbf -> 0xe5\n");

    const Run diff = cli({"diff", a, b});
    QCOMPARE(diff.status, 1);
    QCOMPARE(diff.out, lines);

    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    sim.setBlock(before);
    const Run dryRun = cli({"write", "-p", "COM5", b, "--whole", "--dry-run"});
    QCOMPARE(dryRun.status, 0);
    QCOMPARE(dryRun.out, lines);
    QCOMPARE(sim.block(), before);
}

void CliTest::diffOfAUnitThatCannotBeRead_data()
{
    QTest::addColumn<QString>("fault"); // for the unit on COM5; none: COM9 links nowhere
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // all of standard error, %1 for the COM folder

    QTest::newRow("no device") << ""
                               << "COM9" << 3
                               << "COM9: cannot open COM9 (%1/nowhere): no such device\n";
    QTest::newRow("no serial port")
        << ""
        << "/dev/null" << 3 << "/dev/null: cannot open /dev/null (/dev/null): not a serial port\n";
    QTest::newRow("silent") << "fault silent"
                            << "COM5" << 4 << "COM5: no unit answered the handshake\n";
}

void CliTest::diffOfAUnitThatCannotBeRead()
{
    QFETCH(QString, fault);
    QFETCH(QString, port);
    QFETCH(int, status);
    QFETCH(QString, error);

    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    if (!fault.isEmpty())
        sim.ok(fault);
    const QString file = blockFile(oddBlock(9), m_work.filePath(QStringLiteral("side.json")));
    const Run run = cli({"diff", "port:" + port, file});
    QCOMPARE(run.status, status);
    QCOMPARE(run.err, error.contains("%1") ? error.arg(folder.path()) : error);
    QCOMPARE(run.out, QString());
}

void CliTest::parallelRunCarriesOnPastAFailedUnit()
{
    ComFolder folder;
    SimProcess good(folder.path(), "COM5");
    SimProcess silent(folder.path(), "COM6");
    QVERIFY(good.start());
    QVERIFY(silent.start());
    silent.ok("fault silent");
    const QString file = m_work.filePath(QStringLiteral("parallel.json"));
    QCOMPARE(cli({"read", "-p", "COM5", "-o", file}).status, 0);
    QByteArray expected = good.block();
    expected[6] = 4;
    const QByteArray silentBefore = silent.block();

    // COM7 links nowhere: it cannot be opened (3); COM6 does not answer (4).
    const Run run = cli({"write", "-p", "COM5,COM6,COM7", file, "--set", "network_address=4"});
    QCOMPARE(run.status, 4);
    QVERIFY2(run.out.contains("COM5: written and verified\n"), qPrintable(run.out));
    for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(line.startsWith("COM5: "), qPrintable(line));
    for (const QString &line : run.err.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(line.startsWith("COM5: ") || line.startsWith("COM6: ") ||
                     line.startsWith("COM7: "),
                 qPrintable(line));
    QVERIFY(run.err.contains("COM6: no unit answered"));
    QVERIFY(run.err.contains("COM7: cannot open COM7"));
    QCOMPARE(good.block(), expected);
    QCOMPARE(silent.block(), silentBefore);
    QVERIFY(!silent.received().contains('S'));
}

void CliTest::uploadsSendOneReadingToEveryPort()
{
    ComFolder folder;
    SimProcess first(folder.path(), "COM5");
    SimProcess second(folder.path(), "COM6");
    QVERIFY(first.start());
    QVERIFY(second.start());
    // Samples: three whole blocks and a remainder that is never sent, and two blocks.
    const auto samples = [](int length, quint32 seed) {
        QRandomGenerator random(seed);
        QByteArray data(length, '\0');
        for (char &c : data)
            c = char(random.bounded(256));
        return data;
    };
    const QByteArray one = samples(3 * 512 + 10, 1);
    const QByteArray two = samples(2 * 512, 2);
    const QString ppk1 = m_work.filePath(QStringLiteral("PPK1.wav"));
    const QString ppk2 = m_work.filePath(QStringLiteral("PPK2.wav"));
    fileWith(wavHeader(quint32(one.size())) + one, ppk1);
    fileWith(wavHeader(quint32(two.size())) + two, ppk2);
    const auto recorded = [](SimProcess &sim, const char *name) {
        sim.settle();
        QFile f(sim.recordingsDir() + '/' + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll().mid(44) : QByteArray();
    };

    const Run both = cli({"upload", "-p", "COM5,COM6", "--messages", ppk1, ppk2});
    QCOMPARE(both.status, 0);
    for (SimProcess *sim : {&first, &second}) {
        QCOMPARE(recorded(*sim, "PPK1.wav"), one.left(3 * 512));
        QCOMPARE(recorded(*sim, "PPK2.wav"), two);
    }

    // One file for both messages, once by its name and once through a link.
    const QString link = m_work.filePath(QStringLiteral("again.wav"));
    QVERIFY(QFile::link(ppk1, link));
    for (const QString &again : {ppk1, link}) {
        QFile::remove(first.recordingsDir() + QStringLiteral("/PPK2.wav"));
        const Run same = cli({"upload", "-p", "COM5", "--messages", ppk1, again});
        QCOMPARE(same.status, 0);
        QCOMPARE(recorded(first, "PPK2.wav"), one.left(3 * 512));
    }

    // Less than one whole block would leave the unit an empty recording.
    const QString tiny = m_work.filePath(QStringLiteral("tiny.wav"));
    fileWith(wavHeader(300) + samples(300, 3), tiny);
    first.clearRecord();
    const Run none = cli({"upload", "-p", "COM5", "--siren", tiny});
    QCOMPARE(none.status, 2);
    QVERIFY2(none.err.contains("no whole block"), qPrintable(none.err));
    QCOMPARE(first.received(), QByteArray());
}

void CliTest::failuresAfterTheBlockSayWhatHappened_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<AfterWrite>("after");
    QTest::addColumn<QString>("said");

    QTest::newRow("reset check short") << "reset" << AfterWrite::ShortReply
                                       << "the factory-reset check came short: 100 of 512 bytes";
    QTest::newRow("write lost in the block")
        << "write" << AfterWrite::HangUpInBlock
        << "the line was lost after the block was sent, before the read-back";
}

void CliTest::failuresAfterTheBlockSayWhatHappened()
{
    QFETCH(QString, command);
    QFETCH(AfterWrite, after);
    QFETCH(QString, said);

    PtyPeer peer;
    QStringList arguments{command, "-p", peer.slavePath()};
    if (command == "write")
        arguments << blockFile(oddBlock(21), m_work.filePath(QStringLiteral("played.json")))
                  << "--set"
                  << "alert_zone=3";
    const Run run = againstPlayedUnit(peer, arguments, after);
    QCOMPARE(run.status, 4);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
}

void CliTest::interruptedWriteSaysWhatTheUnitHolds()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const QByteArray unit = oddBlock(13);
    sim.setBlock(unit);
    const QString file = blockFile(unit, m_work.filePath(QStringLiteral("interrupted.json")));
    QByteArray expected = unit;
    expected[7] = 6;
    sim.clearRecord();

    // The unit's pause at its real 10 s, so that both signals surely fall within it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARVIK2_CLOCK_SPEEDUP"), QStringLiteral("1"));
    Running write({"write", "-p", "COM5", file, "--set", "alert_zone=6"}, environment);
    // 'U', the block read twice, 'S' and the block.
    QVERIFY(write.waitFor([&] { return sim.receivedCount() >= 4 + 512; }));
    QVERIFY(write.signal(SIGINT));
    QVERIFY2(write.said("storing the block"), qPrintable(write.err));
    // At once: well before the 10 s pause would have ended, however loaded the machine.
    QVERIFY(write.signal(SIGINT));
    QCOMPARE(write.finish(5000), 130);
    QVERIFY2(write.err.endsWith("\ninterrupted: the block was sent and not verified\n"),
             qPrintable(write.err));
    // The block whole, and at once after it: no read-back, no goodbye.
    QCOMPARE(sim.received(), QByteArray("URRS") + expected);
    QCOMPARE(sim.block(), expected);
}

// A lost line is let go at once and waited for: the adapter is found again by its USB identity
// at its new node, never another one, even one given its old node meanwhile. The handshake
// comes first, and the log goes on in its file until it holds the rows asked for, whatever
// was missed or lost on the way.
void CliTest::monitorWaitsForItsOwnAdapter()
{
    ComFolder folder;
    QTemporaryDir system;
    const QString sys = system.filePath(QStringLiteral("sys"));
    const QString root = system.filePath(QStringLiteral("root"));
    const auto adapter = [&](const QString &usb, const QString &socket) {
        return QStringList{"--fast", "--sys-root", sys,          "--root", root,
                           "--usb",  usb,          "--usb-port", socket};
    };
    SimProcess a(folder.path(), "COM5", adapter("0403:6001:A10K1234", "1-1"));
    SimProcess b(folder.path(), "COM6", adapter("0403:6001:B20K5678", "1-2"));
    QVERIFY(a.start());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARVIK2_SYS_ROOT"), sys);
    environment.insert(QStringLiteral("TARVIK2_ROOT"), root);

    {
        Running once({"monitor", "-p", "COM5", "--no-reconnect"}, environment);
        QVERIFY(once.waitFor([&] { return a.receivedCount() >= 3; })); // 'U' and two rows' worth
        a.ok("hangup");
        QCOMPARE(once.finish(), 4);
        QVERIFY2(once.err.contains("line lost at ") && !once.err.contains("back at"),
                 qPrintable(once.err));
    }

    const QString node = a.ok("reopen").mid(3);
    const QString csv = m_work.filePath(QStringLiteral("replug.csv"));
    Running log({"monitor", "-p", node, "--interval", "100", "--count", "20", "--csv", csv},
                environment);
    QVERIFY(log.waitFor([&] { return readText(csv).count('\n') >= 3; }));
    a.ok("fault silent");
    QVERIFY2(log.said("(1 missed so far)"), qPrintable(log.err));
    a.ok("hangup");
    QVERIFY2(log.said("line lost at "), qPrintable(log.err));
    // Let go before it is said: no descriptor of the tool's is left on the node.
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/%1/fd").arg(log.pid()))
                                   .entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        QVERIFY2(!fd.symLinkTarget().startsWith(node + ' ') && fd.symLinkTarget() != node,
                 qPrintable(fd.symLinkTarget()));
    // B comes meanwhile, given A's old node where the system has no lower one free; A comes
    // back at another, its unit still silent at the first handshake.
    QVERIFY(b.start());
    a.clearRecord();
    a.ok("reopen");
    QVERIFY2(log.said("no unit answered the handshake; waiting"), qPrintable(log.err));
    a.ok("fault none");
    QCOMPARE(log.finish(), 0);

    const QRegularExpression gap(QStringLiteral("\nline lost at (\\S+)\n(?:.*\n)*"
                                                "back at (\\S+), \\d+ s without data\n"));
    const QRegularExpressionMatch said = gap.match(log.err);
    QVERIFY2(said.hasMatch(), qPrintable(log.err));
    const QDateTime lost = QDateTime::fromString(said.captured(1), Qt::ISODateWithMs);
    const QDateTime back = QDateTime::fromString(said.captured(2), Qt::ISODateWithMs);
    QVERIFY(lost.isValid() && back > lost);
    const QStringList lines = readText(csv).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 21);
    QCOMPARE(lines.first(), QStringLiteral("time,ppk1,ppk2,gochs,adc,light,power"));
    int before = 0;
    int after = 0;
    for (const QString &row : lines.mid(1)) {
        const QDateTime time = QDateTime::fromString(row.section(',', 0, 0), Qt::ISODateWithMs);
        QVERIFY2(row.count(',') == 6 && time.isValid(), qPrintable(row));
        before += time <= lost;
        after += time >= back;
    }
    // None in the gap.
    QVERIFY2(before >= 2 && after >= 1 && before + after == 20, qPrintable(lines.join('\n')));
    // A: the handshake it did not answer, the one it did, the rows and the goodbye.
    const QString wire = QString::fromLatin1(a.received());
    QVERIFY2(QRegularExpression(QStringLiteral("^UU+\x10+Z$")).match(wire).hasMatch(),
             qPrintable(a.received().toHex()));
    QCOMPARE(b.received(), QByteArray());
}

void CliTest::fullDiskKeepsTheBackupAndSaysSo()
{
    SmallDisk disk(8192);
    if (!disk.usable())
        QSKIP("neither a tmpfs nor a file size limit can be had here");
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const QString backup = disk.path(QStringLiteral("unit-17.json"));
    const QByteArray old = readText(blockFile(oddBlock(12), backup)).toUtf8();
    disk.fill();
    const QStringList before = disk.entries();
    const auto limited = [&disk](QProcess &process) { disk.limit(process); };

    const Run save = cli({"read", "-p", "COM5", "-o", backup}, limited);
    QCOMPARE(save.status, 2);
    QVERIFY2(save.err.startsWith("cannot write " + backup + ": "), qPrintable(save.err));
    QVERIFY(!save.err.contains("saved"));
    QCOMPARE(readText(backup).toUtf8(), old);
    QCOMPARE(disk.entries(), before);

    // Standard output: a file on the full disk, a device that is always full, and none at all.
    const QString printed = disk.path(QStringLiteral("printed.json"));
    const Run onDisk = cli({"read", "-p", "COM5"}, [&](QProcess &process) {
        disk.limit(process);
        process.setStandardOutputFile(printed);
    });
    const Run onFull = cli({"read", "-p", "COM5"}, [](QProcess &process) {
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    });
    QProcess closed;
    closed.start(QStringLiteral("/bin/sh"),
                 {"-c", "exec \"$0\" \"$@\" >&-", TARVIK2_CLI_PATH, "read", "-p", "COM5"});
    QVERIFY(closed.waitForFinished(60000));
    const Run none{closed.exitCode(), {}, QString::fromUtf8(closed.readAllStandardError())};
    for (const Run &run : {onDisk, onFull, none}) {
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("tarvik2-cli: cannot write standard output: "),
                 qPrintable(run.err));
    }
}

void CliTest::failedLogWritesEndTheLog()
{
    SmallDisk disk(4096);
    if (!disk.usable())
        QSKIP("neither a tmpfs nor a file size limit can be had here");
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());

    // 200 rows do not fit in 4 KB: the log stops at the row that did not, and ends whole.
    const QString log = disk.path(QStringLiteral("log.csv"));
    const Run small =
        cli({"monitor", "-p", "COM5", "--count", "200", "--interval", "0", "--csv", log},
            [&disk](QProcess &process) { disk.limit(process); });
    QCOMPARE(small.status, 2);
    QVERIFY2(small.err.startsWith("cannot write " + log + ": "), qPrintable(small.err));
    const QString text = readText(log);
    QVERIFY(text.endsWith('\n'));
    const QStringList rows = text.split('\n', Qt::SkipEmptyParts);
    QVERIFY2(rows.size() > 10 && rows.size() < 201, qPrintable(QString::number(rows.size())));
    for (const QString &row : rows)
        QCOMPARE(row.count(','), 6);
    QVERIFY2(small.err.contains(QStringLiteral("%1 rows").arg(rows.size() - 1)),
             qPrintable(small.err));

    const Run full = cli({"monitor", "-p", "COM5", "--count", "5", "--csv", "/dev/full"});
    QCOMPARE(full.status, 2);
    QVERIFY2(full.err.startsWith("cannot write /dev/full: "), qPrintable(full.err));
}

void CliTest::filesThatAreNoRegularFilesSendNothing()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const QString fifo = m_work.filePath(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo), 0600) == 0);
    const QString good = blockFile(oddBlock(4), m_work.filePath(QStringLiteral("good.json")));
    const QString big = m_work.filePath(QStringLiteral("big.json"));
    fileWith(QByteArray(2 << 20, ' ') + readText(good).toUtf8(), big);
    sim.clearRecord();

    // Neither a device, nor a FIFO with no writer, nor a file of 2 MiB is read as settings;
    // neither a device nor a FIFO is replaced by a backup.
    const QList<QStringList> refused{
        {"write", "-p", "COM5", "/dev/zero"},
        {"write", "-p", "COM5", fifo},
        {"write", "-p", "COM5", big},
        {"diff", "port:COM5", "/dev/zero"},
        {"read", "-p", "COM5", "-o", "/dev/null"},
        {"read", "-p", "COM5", "-o", fifo},
        // Two names of one device come to one backup file.
        {"read", "-p", sim.slavePath() + ",/" + sim.slavePath(), "-o",
         m_work.filePath("bk-{port}.json")},
    };
    for (const QStringList &arguments : refused) {
        const Run run = cli(arguments);
        QVERIFY2(run.status == 2, qPrintable(arguments.join(' ') + ": " + run.err));
        QVERIFY2(run.err.contains("not a regular file") || run.err.contains("1 MiB") ||
                     run.err.contains("would both write"),
                 qPrintable(run.err));
    }
    QCOMPARE(sim.received(), QByteArray());
    QFileInfo fifoInfo(fifo);
    QVERIFY(!fifoInfo.isFile());
    QVERIFY(QFileInfo(QStringLiteral("/dev/null")).exists() && !QFileInfo("/dev/null").isFile());

    // "-o -" is standard output.
    const Run dash = cli({"read", "-p", "COM5", "-o", "-"});
    QCOMPARE(dash.status, 0);
    QVERIFY(dash.out.contains("\"format\": \"tarvik2-settings\""));
    QVERIFY(!QFile::exists("-"));
}

void CliTest::siteKeepsABackupBeforeEveryChangeAndAChainedJournal()
{
    ComFolder folder;
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<QByteArray> blocks;
    for (int n = 0; n < 3; ++n) {
        sims.push_back(
            std::make_unique<SimProcess>(folder.path(), QStringLiteral("COM%1").arg(5 + n)));
        QVERIFY(sims.back()->start());
        QByteArray block = oddBlock(40 + quint32(n));
        block[6] = char(11 + n); // the network address
        block[7] = char(3);      // the zone
        block[43] = char(9);     // the message volume
        sims.back()->setBlock(block);
        blocks.push_back(block);
    }
    const QString site = m_work.filePath(QStringLiteral("site"));
    QCOMPARE(cli({"site", "init", site, "--name", "North"}).status, 0);
    const QString file = m_work.filePath(QStringLiteral("volume.json"));
    blockFile(blocks[0], file);
    const QString wav = m_work.filePath(QStringLiteral("SIREN.wav"));
    fileWith(wavHeader(2 * 512) + QByteArray(2 * 512, 's'), wav);

    // The three writes run side by side, appending to one journal.
    QCOMPARE(
        cli({"write", "-p", "COM5,COM6,COM7", file, "--set", "message_volume=5", "--site", site})
            .status,
        0);
    QCOMPARE(cli({"reset", "-p", "COM6", "--site", site, "--operator", "I. Petrov"}).status, 0);
    QCOMPARE(cli({"upload", "-p", "COM7", "--siren", wav, "--site", site}).status, 0);

    // A backup before every change, holding what the unit held then.
    QList<QJsonObject> records;
    for (const QString &line : readText(site + "/journal.jsonl").split('\n', Qt::SkipEmptyParts))
        records << QJsonDocument::fromJson(line.toUtf8()).object();
    QCOMPARE(records.size(), 5);
    QSet<QString> backups;
    for (const QJsonObject &record : records) {
        const int port = record["port"].toObject()["name"].toString().mid(3).toInt() - 5;
        QVERIFY(port >= 0 && port < 3);
        const QString backup = record["backup"].toString();
        backups.insert(backup);
        const QByteArray before = QByteArray::fromHex(
            QJsonDocument::fromJson(readText(site + '/' + backup).toUtf8())["block"]
                .toString()
                .toLatin1());
        QCOMPARE(before.size(), 512);
        const QString operation = record["operation"].toString();
        if (operation == "write") {
            QCOMPARE(before, blocks[std::size_t(port)]);
            QCOMPARE(record["verify"].toString(), QStringLiteral("verified"));
            QVERIFY(record["changes"].toArray().contains(QStringLiteral("message_volume: 9 -> 5")));
            // What the journal says went out is what the unit got.
            QByteArray sent = before;
            sent[43] = 5;
            QVERIFY(sims[std::size_t(port)]->received().contains('S' + sent));
        } else if (operation == "reset") {
            QCOMPARE(record["operator"].toString(), QStringLiteral("I. Petrov"));
        } else {
            QCOMPARE(operation, QStringLiteral("upload"));
            QCOMPARE(record["upload"].toArray()[0].toObject()["blocks"].toInt(), 2);
        }
        QCOMPARE(record["unit"].toObject()["network_address"].toInt(), uchar(before[6]));
        QCOMPARE(record["status"].toInt(), 0);
    }
    QCOMPARE(backups.size(), 5);
    QCOMPARE(QDir(site + "/backups").entryList(QDir::Files).size(), 5);
    QCOMPARE(cli({"site", "verify", site}).status, 0);

    // The report names every unit with its address, zone and status, in the PDF's own text.
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    QVERIFY2(!pdftotext.isEmpty(), "pdftotext (poppler-utils) reads the report back");
    const auto reportText = [&] {
        const QString pdf = m_work.filePath(QStringLiteral("report.pdf"));
        QFile::remove(pdf);
        const Run report = cli({"report", site, "-o", pdf});
        QProcess text;
        text.start(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        text.waitForFinished(60000);
        return report.status == 0 ? QString::fromUtf8(text.readAllStandardOutput()) : report.err;
    };
    const QString report = reportText();
    const QString firstPage = report.section(QLatin1Char('\f'), 0, 0);
    QVERIFY2(firstPage.contains("The journal's chain holds"), qPrintable(firstPage));
    // Each unit as the last record of its port left it: the reset one back at address 1.
    QMap<QString, QJsonObject> lastOfPort;
    for (const QJsonObject &record : records)
        lastOfPort[record["port"].toObject()["name"].toString()] = record;
    QCOMPARE(lastOfPort.size(), 3);
    for (const QJsonObject &record : lastOfPort) {
        const QByteArray after = QByteArray::fromHex(record["settings"].toString().toLatin1());
        QCOMPARE(after.size(), 512);
        const QRegularExpression row(
            QStringLiteral("\\n\\s*%1\\s+%2\\s+\\d+\\s+\\d+\\s.*verified\\n")
                .arg(uchar(after[6]))
                .arg(uchar(after[7])));
        QVERIFY2(row.match(firstPage).hasMatch(), qPrintable(firstPage));
    }
    QVERIFY(report.contains(QStringLiteral("Реле \"РАБОТА\": ППК1")));
    QVERIFY(report.contains(QStringLiteral("History")));

    // A backup that cannot be saved stops the change before anything is sent.
    QVERIFY(QDir(site).rename("backups", "kept"));
    fileWith("not a folder", site + "/backups");
    sims[0]->clearRecord();
    const Run refused =
        cli({"write", "-p", "COM5", file, "--set", "message_volume=6", "--site", site});
    QCOMPARE(refused.status, 2);
    QVERIFY2(refused.err.contains("cannot save the backup"), qPrintable(refused.err));
    QVERIFY(!sims[0]->received().contains('S'));

    // An edited line, and a removed one, are named.
    QFile journal(site + "/journal.jsonl");
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = journal.readAll().split('\n');
    journal.close();
    const auto verifyWith = [&](QList<QByteArray> changed) {
        fileWith(changed.join('\n'), site + "/journal.jsonl");
        return cli({"site", "verify", site});
    };
    QList<QByteArray> edited = lines;
    edited[1].replace("\"status\":0", "\"status\":1");
    const Run afterEdit = verifyWith(edited);
    QCOMPARE(afterEdit.status, 1);
    QVERIFY2(afterEdit.out.contains("line 2 was changed"), qPrintable(afterEdit.out));
    const QString broken = reportText().section(QLatin1Char('\f'), 0, 0);
    QVERIFY2(broken.contains("The journal's chain is broken") &&
                 broken.contains("line 2 was changed"),
             qPrintable(broken));
    QList<QByteArray> shortened = lines;
    shortened.removeAt(2);
    const Run afterRemoval = verifyWith(shortened);
    QCOMPARE(afterRemoval.status, 1);
    QVERIFY2(afterRemoval.out.contains("record 3 was removed before line 3"),
             qPrintable(afterRemoval.out));
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
