// The serial channel and the COM names over real pseudo-terminals (one driven byte by byte by
// the test, and the unit simulator); the receives and the wait for an awaited byte over the
// unit in the test's own process.

#include "device/steadyclock.h"
#include "device/protocol.h"
#include "device/unitlink.h"
#include "serial/comnames.h"
#include "serial/serialchannel.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"
#include "support/simulatedunit.h"

#include <QElapsedTimer>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

class ChannelTest : public QObject {
    Q_OBJECT

private slots:
    void comNameTable_data();
    void comNameTable();
    void linkInComFolderWins();
    void indexOutsideListOpensNothing();
    void openAndReopen();
    void receiveReturnsAsSoonAsAllHaveCome();
    void receiveGivesUpAfterTenMsAByte();
    void noTimeOutBetweenBytes();
    void lateByteGoesToNextReceive();
    void staleFirstByteAndPartialBlock();
    void sendByteUsesReadBackArea();
    void exclusiveAgainstSecondOpener();
    void foreignHolderKeepsUsOut();
    void openFailureReasons();
    void waitForByteDiscardsOthers();
    void waitForByteIgnoresStaleByte();
    void waitForByteNoticesLostLine();
    void simulatorExchanges();
};

void ChannelTest::comNameTable_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("device");
    QTest::newRow("COM1") << 0 << "/dev/ttyS0";
    QTest::newRow("COM4") << 3 << "/dev/ttyS3";
    QTest::newRow("COM5") << 4 << "/dev/ttyUSB0";
    QTest::newRow("COM12") << 11 << "/dev/ttyUSB7";
    QTest::newRow("COM13") << 12 << "/dev/ttyACM0";
    QTest::newRow("COM20") << 19 << "/dev/ttyACM7";
    QTest::newRow("COM21") << 20 << "/dev/ttyS4";
    QTest::newRow("COM40") << 39 << "/dev/ttyS23";
    QTest::newRow("none") << -1 << "";
    QTest::newRow("past the list") << 40 << "";
}

void ChannelTest::comNameTable()
{
    QFETCH(int, index);
    QFETCH(QString, device);
    ComFolder folder;
    if (index >= 0 && index < ComNames::Count)
        folder.unlink(ComNames::name(index));
    QCOMPARE(ComNames::devicePath(index), device);
}

void ChannelTest::linkInComFolderWins()
{
    ComFolder folder;
    QCOMPARE(ComNames::linkFolder(), folder.path());
    folder.link("COM5", "/dev/null");
    QCOMPARE(ComNames::devicePath(4), folder.path() + "/COM5");
    // A link that points nowhere still wins: the user chose it.
    QCOMPARE(ComNames::devicePath(5), folder.path() + "/COM6");
    QCOMPARE(ComNames::name(39), QString("COM40"));
}

void ChannelTest::indexOutsideListOpensNothing()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM1", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(0));
    QVERIFY(!channel.open(-1)); // also closes what was open
    QCOMPARE(channel.lastOpenFailure(), SerialChannel::OpenFailure::NoIndex);
    QVERIFY(!channel.isOpen());
    QVERIFY(!channel.sendByte('U'));
    QCOMPARE(peer.readAvailable(30), QByteArray());
    bool arrived = true;
    peer.write("W");
    QCOMPARE(link.receiveByte(&arrived), std::uint8_t(0));
    QVERIFY(!arrived);
}

void ChannelTest::openAndReopen()
{
    ComFolder folder;
    PtyPeer first;
    PtyPeer second;
    folder.link("COM40", first.slavePath());
    folder.link("COM2", second.slavePath());
    SerialChannel channel;
    QVERIFY(channel.open(39));
    QVERIFY(channel.sendByte('A'));
    QCOMPARE(first.readAvailable(), QByteArray("A"));
    QVERIFY(channel.open(39)); // the same port again
    QVERIFY(channel.sendByte('B'));
    QCOMPARE(first.readAvailable(), QByteArray("B"));
    QVERIFY(channel.open(1)); // another port: the first is closed
    QVERIFY(channel.sendByte('C'));
    QCOMPARE(second.readAvailable(), QByteArray("C"));
    QCOMPARE(first.readAvailable(30), QByteArray());
    QVERIFY(SerialChannel::probe(first.slavePath())); // released
}

void ChannelTest::receiveReturnsAsSoonAsAllHaveCome()
{
    SimulatedUnit unit;
    Line &line = unit.line();
    UnitLink link(line);
    QVERIFY(line.open(4));
    QByteArray block(512, 0);
    for (int i = 0; i < 512; ++i)
        block[i] = char(i * 7);
    unit.setBlock(block);
    link.sendByte(Command::ReadSettings);
    std::uint8_t into[512] = {};
    const qint64 start = unit.clock().now();
    QCOMPARE(line.receiveBytes(into, 512), 512);
    // Far below the 5.12 s the block may take at most.
    const qint64 took = unit.clock().now() - start;
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(into), 512), block);
}

void ChannelTest::receiveGivesUpAfterTenMsAByte()
{
    SimulatedUnit unit;
    Line &line = unit.line();
    UnitLink link(line);
    QVERIFY(line.open(4));
    std::uint8_t into[12] = {};
    qint64 start = unit.clock().now();
    QCOMPARE(line.receiveBytes(into, 12), 0);
    QVERIFY2(unit.clock().now() - start >= 120, qPrintable(QString::number(start)));
    unit.ok("fault short 3");
    link.sendByte(Command::Measure);
    start = unit.clock().now();
    QCOMPARE(line.receiveBytes(into, 12), 3);
    QVERIFY(unit.clock().now() - start >= 120);
}

void ChannelTest::noTimeOutBetweenBytes()
{
    SimulatedUnit unit;
    Line &line = unit.line();
    UnitLink link(line);
    QVERIFY(line.open(4));
    // 100 bytes may take a whole second; a 200 ms gap in the middle ends nothing.
    unit.setBlock(QByteArray(50, 'x') + QByteArray(462, 'y'));
    unit.ok("fault short 100");
    unit.ok("fault split 50 200");
    link.sendByte(Command::ReadSettings);
    std::uint8_t into[100] = {};
    QCOMPARE(line.receiveBytes(into, 100), 100);
    QCOMPARE(into[99], std::uint8_t('y'));
}

void ChannelTest::lateByteGoesToNextReceive()
{
    SimulatedUnit unit;
    Line &line = unit.line();
    UnitLink link(line);
    QVERIFY(line.open(4));
    unit.ok("fault late 100");
    link.sendByte(Command::Handshake);
    bool arrived = true;
    link.receiveByte(&arrived);
    QVERIFY(!arrived);
    unit.clock().sleep(100); // the 'W' comes too late for that receive: it waits in the input
    QCOMPARE(link.receiveByte(&arrived), std::uint8_t('W'));
    QVERIFY(arrived);
}

void ChannelTest::staleFirstByteAndPartialBlock()
{
    SimulatedUnit unit;
    Line &line = unit.line();
    UnitLink link(line);
    QVERIFY(line.open(4));
    bool arrived = true;
    QCOMPARE(link.receiveByte(&arrived), std::uint8_t(0)); // nothing since start
    QVERIFY(!arrived);

    std::uint8_t *block = link.transferBlock();
    for (int i = 0; i < 512; ++i)
        block[i] = std::uint8_t(0xA0 + i % 16);
    unit.setBlock(QByteArray(512, '\x11'));
    unit.ok("fault short 100");
    link.sendByte(Command::ReadSettings);
    QCOMPARE(line.receiveBytes(block, 512), 100);
    QCOMPARE(block[99], std::uint8_t(0x11));
    for (int i = 100; i < 512; ++i)
        QCOMPARE(block[i], std::uint8_t(0xA0 + i % 16));
    // A silent unit: the single receive yields the block's first byte as it stood.
    QCOMPARE(link.receiveByte(&arrived), std::uint8_t(0x11));
    QVERIFY(!arrived);
}

void ChannelTest::sendByteUsesReadBackArea()
{
    SimulatedUnit unit;
    Line &line = unit.line();
    UnitLink link(line);
    QVERIFY(line.open(4));
    QVERIFY(link.sendByte(0x52));
    QCOMPARE(link.readBack()[0], std::uint8_t(0x52));
    QCOMPARE(link.readBack(), link.transferBlock() + SettingsBlock::Size);
    std::uint8_t block[512];
    for (int i = 0; i < 512; ++i)
        block[i] = std::uint8_t(i);
    QVERIFY(line.sendBytes(block, 512));
    unit.clock().sleep(100); // the line's time for all of them
    const QByteArray got = unit.received();
    QCOMPARE(got.size(), 513);
    QCOMPARE(got.at(0), '\x52');
    QCOMPARE(std::uint8_t(got.at(512)), std::uint8_t(511 & 0xFF));
}

void ChannelTest::exclusiveAgainstSecondOpener()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    folder.link("COM6", peer.slavePath()); // a second name for the same device
    SerialChannel first;
    QVERIFY(first.open(4));
    SerialChannel second;
    QVERIFY(!second.open(4));
    QCOMPARE(second.lastOpenFailure(), SerialChannel::OpenFailure::Busy);
    QVERIFY(!second.open(5));
    QVERIFY(!SerialChannel::probe(peer.slavePath()));
    // Another program opening the device by its own name, even as root, is kept out too.
    const int fd = ::open(qPrintable(peer.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), -1);
        ::close(fd);
    }
    first.close();
    QVERIFY(second.open(5));
}

void ChannelTest::foreignHolderKeepsUsOut()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    const int fd = ::open(qPrintable(peer.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    SerialChannel channel;
    QVERIFY(!channel.open(4));
    QCOMPARE(channel.lastOpenFailure(), SerialChannel::OpenFailure::Busy);
    ::close(fd);
    QVERIFY(channel.open(4));
}

void ChannelTest::openFailureReasons()
{
    ComFolder folder;
    SerialChannel channel;
    QVERIFY(!channel.open(6)); // COM7 points nowhere
    QCOMPARE(channel.lastOpenFailure(), SerialChannel::OpenFailure::NoDevice);
    QCOMPARE(channel.lastOpenDevice(), folder.path() + "/nowhere");
    folder.link("COM7", "/dev/null"); // a device, but no terminal
    QVERIFY(!channel.open(6));
    QCOMPARE(channel.lastOpenFailure(), SerialChannel::OpenFailure::NotSerial);
    QCOMPARE(channel.lastOpenDevice(), QString("/dev/null"));
    QVERIFY(!channel.lastOpenReason().folder);
    folder.link("COM7", folder.path()); // a directory
    QVERIFY(!channel.open(6));
    QCOMPARE(channel.lastOpenFailure(), SerialChannel::OpenFailure::NotSerial);
    QVERIFY(channel.lastOpenReason().folder);
    QVERIFY(!channel.isOpen());
}

void ChannelTest::waitForByteDiscardsOthers()
{
    SimulatedUnit unit;
    Line &line = unit.line();
    UnitLink link(line);
    QVERIFY(line.open(4));
    // A siren upload of two blocks, the first acknowledged with 0xFF alone and the second
    // behind a junk byte: 'T', 0xFF, 0x00, 'U', 0xFF wait in the input.
    const QByteArray data(2 * 512, '\x01');
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.constData());
    unit.ok("fault ffonly");
    link.sendByte(Command::UploadSiren);
    QCOMPARE(link.receiveByte(), Reply::Next);
    const std::uint8_t counts[] = {0x00, 0x02};
    line.sendBytes(counts, 2);
    line.sendBytes(bytes, 512);
    unit.clock().sleep(100);
    unit.ok("fault none");
    unit.ok("fault garbage-once 1");
    line.sendBytes(bytes + 512, 512);
    unit.clock().sleep(100);
    QCOMPARE(waitForByte(link, Reply::Next, unit.clock(), 10000), WaitResult::Received);
    // 0xFF alone before the 'U' does not end a wait for 'U'.
    QCOMPARE(waitForByte(link, Reply::Next, unit.clock(), 10000), WaitResult::TimedOut);
}

void ChannelTest::waitForByteIgnoresStaleByte()
{
    SimulatedUnit unit;
    UnitLink link(unit.line());
    QVERIFY(unit.line().open(4));
    link.transferBlock()[0] = Reply::Next; // a 'U' left over from an earlier reply
    const qint64 start = unit.clock().now();
    QCOMPARE(waitForByte(link, Reply::Next, unit.clock(), 10000), WaitResult::TimedOut);
    QVERIFY(unit.clock().now() - start >= 10000);
}

void ChannelTest::waitForByteNoticesLostLine()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    const SteadyClock clock(1);
    QCOMPARE(waitForByte(link, Reply::Next, clock, 10000), WaitResult::PortFailed);
    QVERIFY(channel.open(4));
    peer.hangUp();
    QElapsedTimer t;
    t.start();
    const WaitResult result = waitForByte(link, Reply::Next, clock, 10000);
    QVERIFY2(result == WaitResult::PortFailed, "a hung-up line must end the wait");
    QVERIFY(t.elapsed() < 9000);
    QVERIFY(channel.hasFailed());
    QVERIFY(!channel.sendByte('U'));
}

void ChannelTest::simulatorExchanges()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    link.sendByte(Command::Handshake);
    QCOMPARE(link.receiveByte(), Reply::Ready);
    link.sendByte(Command::ReadSettings);
    std::uint8_t block[512];
    QCOMPARE(channel.receiveBytes(block, 512), 512);
    QCOMPARE(block[0], std::uint8_t(3));
    QCOMPARE(block[15], std::uint8_t(0xE8));
    sim.ok("measure 1 2 3 4 5 300");
    link.sendByte(Command::Measure);
    std::uint8_t reply[12];
    QCOMPARE(channel.receiveBytes(reply, 12), 12);
    QCOMPARE(reply[10], std::uint8_t(0x01));
    QCOMPARE(reply[11], std::uint8_t(0x2C));
    link.sendByte(Command::Disconnect);
    QCOMPARE(link.receiveByte(), Reply::Bye);
    QCOMPARE(sim.received(), QByteArray("\x55\x52\x10\x5A"));
}

QTEST_GUILESS_MAIN(ChannelTest)
#include "tst_channel.moc"
