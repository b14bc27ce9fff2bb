// Connecting to the unit, leaving the program and the port scan: the real window against the
// unit simulator in the test's own process, and over pseudo-terminals where the serial path is
// the point (an adapter learnt from the system's tree, ports that do not open, the scan of real
// ports).

#include "app/tform1.h"
#include "support/connectedwindow.h"
#include "support/windowdriver.h"
#include "support/windowlog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The lines logged after the first `skip` ones.
QStringList linesAfter(const TForm1 &form, qsizetype skip) { return logLines(form).mid(skip); }

} // namespace

class ConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void connectReadsSettingsAndShowsPicture();
    void noUnitBehindPort();
    void lateAnswerFailsAndWaitsForNextReceive();
    void connectTwice();
    void connectThroughSlowAdapter();
    void failedConnectAfterGoodOne();
    void staleReadyByteIsNoAnswer();
    void typedPortName_data();
    void typedPortName();
    void unknownPortNameOpensNothing();
    void portThatCannotBeOpened();
    void exitConnected();
    void exitWithoutConnection();
    void exitWithStaleByeByte();
    void closingEndsEventLoopWithZero();
    void closeRequestTakesTheExitPath();
    void scanListsExactlyFreePorts();
    void scanWhileConnected();
};

void ConnectionTest::connectReadsSettingsAndShowsPicture()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    QCOMPARE(logLines(form), QStringList({"Доступные порты", "COM5", "-------------"}));
    QVERIFY(!form.Image1->isVisibleTo(&form));

    press(form.Button1);
    QVERIFY(form.connected());
    QCOMPARE(linesAfter(form, 3), QStringList({"Соединение установлено", "ЖДИТЕ...", "Прочитано"}));
    QCOMPARE(c.sim.received(), QByteArray("URR")); // the block, read twice to confirm it
    QVERIFY(form.Image1->isVisibleTo(&form));
    QCOMPARE(form.Image1->pixmap().size(), QSize(121, 87));
    QCOMPARE(form.Edit4->text(), QString("ТАРВИК2"));
    QCOMPARE(form.Edit9->text(), QString("1000"));
}

void ConnectionTest::noUnitBehindPort()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    c.sim.ok("fault silent");
    TForm1 &form = *c.form;
    press(form.Button1);
    QVERIFY(!form.connected());
    QCOMPARE(linesAfter(form, 3), QStringList({"Ошибка подключения", "0"}));
    QCOMPARE(c.sim.received(), QByteArray("UZ"));
    QVERIFY(form.channel().isOpen()); // the port stays open
    QVERIFY(!form.Image1->isVisibleTo(&form));
}

void ConnectionTest::lateAnswerFailsAndWaitsForNextReceive()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    c.sim.ok("fault late 40");
    TForm1 &form = *c.form;
    press(form.Button1);
    QVERIFY(!form.connected());
    QCOMPARE(linesAfter(form, 3), QStringList({"Ошибка подключения", "0"}));
    c.sim.settle();
    // The late 'W' (and the 'V' for the disconnect) wait in the driver for the next receive.
    bool arrived = false;
    QCOMPARE(form.unit().receiveByte(&arrived), std::uint8_t('W'));
    QVERIFY(arrived);
    QCOMPARE(form.unit().receiveByte(&arrived), std::uint8_t('V'));
}

void ConnectionTest::connectTwice()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    press(form.Button1);
    press(form.Button1);
    QVERIFY(form.connected());
    QCOMPARE(logLines(form).count("Соединение установлено"), 2);
    QCOMPARE(c.sim.received(), QByteArray("URRURR"));
}

// An FTDI adapter that keeps its default 16 ms latency timer holds the unit's answer for up to
// that long: every connect, wherever the chip's timer stands, still gets it, and the program
// learns the adapter from the system's tree as it would for a real one.
void ConnectionTest::connectThroughSlowAdapter()
{
    QTemporaryDir sys;
    qputenv("TARVIK2_SYS_ROOT", QFile::encodeName(sys.path()));
    const auto restore = qScopeGuard([] { qunsetenv("TARVIK2_SYS_ROOT"); });
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5",
                   {"--fast", "--adapter", "ftdi16", "--sys-root", sys.path()});
    QVERIFY(sim.start());
    TForm1 form(nullptr, 100);
    waitIdle(form);
    for (int i = 0; i < 20; ++i) {
        press(form.Button1);
        QVERIFY2(form.connected(), qPrintable(QString("connect %1").arg(i)));
        QCOMPARE(logLines(form).last(), QString("Прочитано"));
        QTest::qWait(1 + i % 7);
    }
    QCOMPARE(form.channel().adapter().kind, Adapter::Kind::Ftdi);
    QCOMPARE(form.channel().adapter().latencyMs, 16);
    QCOMPARE(form.channel().adapter().settleMs, 20);
}

void ConnectionTest::failedConnectAfterGoodOne()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    c.sim.ok("fault silent");
    press(form.Button1);
    QVERIFY(!form.connected());
    // The failure line shows the byte the silent receive yields: the block's first byte.
    QCOMPARE(logLines(form).mid(logLines(form).size() - 2),
             QStringList({"Ошибка подключения", "3"}));
    QVERIFY(form.Image1->isVisibleTo(&form));
}

void ConnectionTest::staleReadyByteIsNoAnswer()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    c.sim.ok("fault short 0"); // the block never comes: the handshake's 'W' stays in front
    press(form.Button1);
    QVERIFY(form.connected());
    QCOMPARE(form.unit().transferBlock()[0], std::uint8_t('W'));
    c.sim.ok("fault silent");
    press(form.Button1);
    // The 'W' a silent receive yields is an old one: no connection.
    QVERIFY(!form.connected());
    QCOMPARE(logLines(form).mid(logLines(form).size() - 2),
             QStringList({"Ошибка подключения", "87"}));
}

void ConnectionTest::typedPortName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("index");
    QTest::newRow("exact") << "COM7" << 6;
    QTest::newRow("case and blanks") << "  com7 " << 6;
    QTest::newRow("last") << "Com40" << 39;
    QTest::newRow("no entry") << "COM77" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("inner blank") << "COM 7" << -1;
}

void ConnectionTest::typedPortName()
{
    QFETCH(QString, typed);
    QFETCH(int, index);
    AbsentUnit unit;
    TForm1 form(unit.line(), unit.clock());
    waitIdle(form);
    form.ComboBox1->setEditText(typed);
    QCOMPARE(form.selectedPort(), index);
    QCOMPARE(form.ComboBox1->count(), 40); // typing never adds entries
}

void ConnectionTest::unknownPortNameOpensNothing()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.ComboBox1->lineEdit()->clear();
    QTest::keyClicks(form.ComboBox1->lineEdit(), "COM55");
    QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Return);
    QCOMPARE(form.ComboBox1->count(), 40);
    press(form.Button1);
    QVERIFY(!form.connected());
    const QStringList lines = linesAfter(form, 3);
    QCOMPARE(lines.mid(0, 2), QStringList({"Ошибка подключения", "0"}));
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[2].startsWith("Порт не выбран"));
    QCOMPARE(c.sim.received(), QByteArray());
}

// On the pty: why a real port does not open, and a connect through a real COM link.
void ConnectionTest::portThatCannotBeOpened()
{
    ComFolder folder;
    TForm1 form(nullptr, 100);
    waitIdle(form);
    press(form.Button1); // COM5 links nowhere
    QStringList lines = linesAfter(form, 2);
    QCOMPARE(lines.mid(0, 2), QStringList({"Ошибка подключения", "0"}));
    QCOMPARE(lines.size(), 3);
    // The device the link points at, not the link.
    QCOMPARE(lines[2], "COM5 (" + folder.path() + "/nowhere): устройство не найдено");
    folder.link("COM5", "/dev/null"); // a device, but no terminal
    press(form.Button1);
    QCOMPARE(logLines(form).last(), QString("COM5 (/dev/null): это не последовательный порт"));
    folder.link("COM5", folder.path());
    press(form.Button1);
    QCOMPARE(logLines(form).last(), "COM5 (" + folder.path() + "): это папка, а не порт");

    // A port that another program holds.
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const int fd = ::open(qPrintable(sim.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    press(form.Button1);
    lines = logLines(form);
    QVERIFY2(lines.last().contains("занят"), qPrintable(lines.last()));
    QCOMPARE(sim.received(), QByteArray());
    ::close(fd);
    press(form.Button1);
    QVERIFY(form.connected());
}

void ConnectionTest::exitConnected()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    press(form.Button2);
    QCOMPARE(logLines(form).last(), QString("OK"));
    QCOMPARE(c.sim.received(), QByteArray("Z"));
    QVERIFY(!form.isVisible());
    QVERIFY(form.connected()); // the flag is left as it was
}

void ConnectionTest::exitWithoutConnection()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    press(form.Button2); // the scan left the channel closed: 'Z' goes nowhere
    QCOMPARE(logLines(form).last(), QString("Ошибка"));
    QCOMPARE(c.sim.received(), QByteArray());
    QVERIFY(!form.isVisible());
}

void ConnectionTest::exitWithStaleByeByte()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    c.sim.ok("fault late 40");
    TForm1 &form = *c.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    press(form.Button1); // fails; the late 'W' and 'V' wait in the driver
    c.sim.settle();
    form.unit().receiveByte();
    QCOMPARE(form.unit().receiveByte(), std::uint8_t('V'));
    c.sim.ok("fault silent");
    press(form.Button2);
    // The 'V' a silent receive yields is an old one.
    QCOMPARE(logLines(form).last(), QString("Ошибка"));
    QVERIFY(!form.isVisible());
}

void ConnectionTest::closingEndsEventLoopWithZero()
{
    AbsentUnit unit;
    TForm1 form(unit.line(), unit.clock());
    waitIdle(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTimer::singleShot(0, form.Button2, &QPushButton::click);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!form.isVisible());
}

// A close from the window system, as it reaches the window: idle, the exit button's way; during
// an operation, refused.
void ConnectionTest::closeRequestTakesTheExitPath()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto requestClose = [&form] {
        QCloseEvent request;
        QCoreApplication::sendEvent(form.windowHandle(), &request);
    };

    form.Button5->click(); // its read is under way
    requestClose();
    QVERIFY(form.isVisible());
    QVERIFY(waitIdle(form));
    QCOMPARE(logLines(form).last(), QString("Прочитано"));
    QCOMPARE(c.sim.received(), QByteArray("RR"));

    c.sim.clearRecord();
    requestClose();
    QVERIFY(waitIdle(form));
    QCOMPARE(logLines(form).last(), QString("OK"));
    QCOMPARE(c.sim.received(), QByteArray("Z"));
    QVERIFY(!form.isVisible());
}

// On ptys: the scan of real ports.
void ConnectionTest::scanListsExactlyFreePorts()
{
    ComFolder folder;
    SimProcess com3(folder.path(), "COM3");
    SimProcess com7(folder.path(), "COM7");
    SimProcess com9(folder.path(), "COM9");
    SimProcess com25(folder.path(), "COM25");
    QVERIFY(com3.start() && com7.start() && com9.start() && com25.start());
    // COM9 is held by another program; COM25 is past what the scan looks at.
    const int fd = ::open(qPrintable(com9.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);

    TForm1 form(nullptr, 100);

    waitIdle(form);
    QCOMPARE(logLines(form), QStringList({"Доступные порты", "COM3", "COM7", "-------------"}));

    // A port this program has open is listed: the scan closes it first.
    form.ComboBox1->setCurrentIndex(2);
    press(form.Button1);
    QVERIFY(form.connected());
    press(form.Button15);
    QCOMPARE(logLines(form), QStringList({"Доступные порты", "COM3", "COM7", "-------------"}));
    ::close(fd);
    press(form.Button15);
    QCOMPARE(logLines(form),
             QStringList({"Доступные порты", "COM3", "COM7", "COM9", "-------------"}));
    // Nothing goes over the line during a scan.
    QCOMPARE(com7.received(), QByteArray());
    QCOMPARE(com9.received(), QByteArray());
}

void ConnectionTest::scanWhileConnected()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    press(form.Button15);
    QVERIFY(form.connected());
    QVERIFY(!form.channel().isOpen());
    QCOMPARE(form.ComboBox1->currentText(), QString("COM5"));
    // Still counted as connected, but every exchange transfers nothing until the next connect.
    c.sim.clearRecord();
    press(form.Button5);
    QCOMPARE(c.sim.received(), QByteArray());
    QVERIFY(logLines(form).last().startsWith("Ошибка чтения"));
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
