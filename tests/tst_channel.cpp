// The serial channel, the COM names and the wait for an awaited byte, over real pseudo-
// terminals: one driven byte by byte by the test, and the unit simulator.

#include "device/clock.h"
#include "device/protocol.h"
#include "device/unitlink.h"
#include "serial/comnames.h"
#include "serial/serialchannel.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
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
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    QByteArray block(512, 0);
    for (int i = 0; i < 512; ++i)
        block[i] = char(i * 7);
    peer.write(block);
    std::uint8_t into[512] = {};
    QElapsedTimer t;
    t.start();
    QCOMPARE(channel.receiveBytes(into, 512), 512);
    // Far below the 5.12 s the block may take at most.
    QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(into), 512), block);
}

void ChannelTest::receiveGivesUpAfterTenMsAByte()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    std::uint8_t into[12] = {};
    QElapsedTimer t;
    t.start();
    QCOMPARE(channel.receiveBytes(into, 12), 0);
    QVERIFY2(t.elapsed() >= 120, qPrintable(QString::number(t.elapsed())));
    peer.write("abc");
    t.restart();
    QCOMPARE(channel.receiveBytes(into, 12), 3);
    QVERIFY(t.elapsed() >= 120);
}

void ChannelTest::noTimeOutBetweenBytes()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    // 100 bytes may take a whole second; a 200 ms gap in the middle ends nothing.
    peer.write(QByteArray(50, 'x'));
    std::thread late([&] {
        QThread::msleep(200);
        peer.write(QByteArray(50, 'y'));
    });
    std::uint8_t into[100] = {};
    const int got = channel.receiveBytes(into, 100);
    late.join();
    QCOMPARE(got, 100);
    QCOMPARE(into[99], std::uint8_t('y'));
}

void ChannelTest::lateByteGoesToNextReceive()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    bool arrived = true;
    link.receiveByte(&arrived);
    QVERIFY(!arrived);
    peer.write("W"); // too late for that receive: it waits in the driver
    QTest::qWait(30);
    QCOMPARE(link.receiveByte(&arrived), std::uint8_t('W'));
    QVERIFY(arrived);
}

void ChannelTest::staleFirstByteAndPartialBlock()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    bool arrived = true;
    QCOMPARE(link.receiveByte(&arrived), std::uint8_t(0)); // nothing since start
    QVERIFY(!arrived);

    std::uint8_t *block = link.transferBlock();
    for (int i = 0; i < 512; ++i)
        block[i] = std::uint8_t(0xA0 + i % 16);
    peer.write(QByteArray(100, '\x11'));
    QCOMPARE(channel.receiveBytes(block, 512), 100);
    QCOMPARE(block[99], std::uint8_t(0x11));
    for (int i = 100; i < 512; ++i)
        QCOMPARE(block[i], std::uint8_t(0xA0 + i % 16));
    // A silent unit: the single receive yields the block's first byte as it stood.
    QCOMPARE(link.receiveByte(&arrived), std::uint8_t(0x11));
    QVERIFY(!arrived);
}

void ChannelTest::sendByteUsesReadBackArea()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    QVERIFY(link.sendByte(0x52));
    QCOMPARE(link.readBack()[0], std::uint8_t(0x52));
    QCOMPARE(link.readBack(), link.transferBlock() + SettingsBlock::Size);
    std::uint8_t block[512];
    for (int i = 0; i < 512; ++i)
        block[i] = std::uint8_t(i);
    QVERIFY(channel.sendBytes(block, 512));
    QByteArray got = peer.readAvailable();
    while (got.size() < 513) {
        const QByteArray more = peer.readAvailable();
        if (more.isEmpty())
            break;
        got += more;
    }
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
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    const SteadyClock clock(100);
    peer.write(QByteArray("T\xFF\x00U", 4));
    QCOMPARE(waitForByte(link, Reply::Next, clock, 10000), WaitResult::Received);
    // 0xFF alone before the 'U' does not end a wait for 'U'.
    peer.write("\xFF");
    QCOMPARE(waitForByte(link, Reply::Next, clock, 10000), WaitResult::TimedOut);
}

void ChannelTest::waitForByteIgnoresStaleByte()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    SerialChannel channel;
    UnitLink link(channel);
    QVERIFY(channel.open(4));
    link.transferBlock()[0] = Reply::Next; // a 'U' left over from an earlier reply
    const SteadyClock clock(100);
    QElapsedTimer t;
    t.start();
    QCOMPARE(waitForByte(link, Reply::Next, clock, 10000), WaitResult::TimedOut);
    QVERIFY(t.elapsed() >= 90); // 10 s of clock time at 100 times the speed
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
