// The window while it talks to the unit: the upload buttons, the rule that a handler has the
// line to itself (no measurement tick and no user input until it ends), and what the window
// does when the line, the unit or a file misbehaves. The unit is the simulator's, in the test's
// own process; a lost line and a port that talks unasked are the real serial path's, on a pty.

#include "app/apperror.h"
#include "app/handlerguard.h"
#include "app/tform1.h"
#include "support/connectedwindow.h"
#include "support/errorboxcatcher.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"
#include "support/wavfile.h"
#include "support/windowdriver.h"
#include "support/windowlog.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace {

QByteArray wav(int blocks, char fill)
{
    const quint32 length = quint32(blocks) * 512 + 100; // a remainder that is never sent
    QByteArray b = wavHeader(length);
    for (quint32 i = 0; i < length; ++i)
        b.append(char(fill + i % 251));
    return b;
}

void write(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The unit's line with a hold on its receives: while the test holds them, the exchange that
// meets one waits for the test (in real time), so what the test does meanwhile is known to
// happen while that exchange is under way, however fast the virtual clock runs the rest.
class HeldLine : public Line {
public:
    explicit HeldLine(Line &line) : m_line(line) {}

    void hold()
    {
        std::lock_guard lock(m_mutex);
        m_hold = true;
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_hold = false;
        }
        m_changed.notify_all();
    }
    // True while a receive waits on the hold.
    bool holding() const
    {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }

    int receiveBytes(std::uint8_t *destination, int count) override
    {
        {
            std::unique_lock lock(m_mutex);
            m_waiting = m_hold;
            m_changed.wait(lock, [this] { return !m_hold; });
            m_waiting = false;
        }
        return m_line.receiveBytes(destination, count);
    }

    bool open(int index) override { return m_line.open(index); }
    bool openDevice(const QString &path) override { return m_line.openDevice(path); }
    void close() override { m_line.close(); }
    bool canOpen(int index) const override { return m_line.canOpen(index); }
    OpenReason lastOpenReason() const override { return m_line.lastOpenReason(); }
    QString lastOpenDevice() const override { return m_line.lastOpenDevice(); }
    bool isOpen() const override { return m_line.isOpen(); }
    bool hasFailed() const override { return m_line.hasFailed(); }
    void setLossHandler(std::function<void()> handler) override
    {
        m_line.setLossHandler(std::move(handler));
    }
    bool sendBytes(const std::uint8_t *source, int count) override
    {
        return m_line.sendBytes(source, count);
    }
    void settle(int quietMs) override { m_line.settle(quietMs); }
    bool moreFollows(int quietMs) override { return m_line.moreFollows(quietMs); }
    bool lineUp() override { return m_line.lineUp(); }
    const Adapter &adapter() const override { return m_line.adapter(); }

private:
    Line &m_line;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_hold = false;
    bool m_waiting = false;
};

// The window connected to the unit through a held line. A hold left on is let go before the
// window ends, so that a failed check cannot leave its exchange waiting for ever.
struct HeldWindow {
    WindowUnit sim;
    HeldLine line{sim.line()};
    std::optional<TForm1> form;

    ~HeldWindow()
    {
        line.release();
        form.reset();
    }

    bool connect()
    {
        form.emplace(line, sim.clock());
        if (!waitIdle(*form))
            return false;
        const bool connected = pressConnect(*form);
        sim.clearRecord();
        return connected;
    }
};

// Where a click on the control lands: its centre, in window coordinates.
QPoint centreOf(const TForm1 &form, const QWidget *control)
{
    return control->mapTo(&form, control->rect().center());
}

} // namespace

class WindowExchangesTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void uploadButtonsNeedConnection();
    void sirenThroughWindow();
    void messagesThroughWindow();
    void noTickInsideUpload();
    void noTickInsideSettingsWrite();
    void userInputDroppedWhileBusy();

    void strayRepliesNeverShift();
    void lostLineSaidOnce();
    void reconnectAfterLossIsNotLost();
    void unaskedInputIsBounded();
    void inputKeptWhilePolling();
    void onlyRegularFilesUploaded();
    void fileChangedMidUploadSendsTheOriginal();
    void errorBoxFromNestedHandlerTakesKeys();

private:
    std::optional<QTemporaryDir> m_dir;
    QString m_previous;
};

void WindowExchangesTest::init()
{
    m_dir.emplace();
    m_previous = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
}

void WindowExchangesTest::cleanup()
{
    QDir::setCurrent(m_previous);
    m_dir.reset();
}

void WindowExchangesTest::uploadButtonsNeedConnection()
{
    ConnectedWindow c;
    write("SIREN.wav", wav(2, 'a'));
    write("PPK1.wav", wav(2, 'b'));
    write("PPK2.wav", wav(2, 'c'));
    c.sim.ok("fault silent");
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    press(form.Button1); // the port opens, the handshake fails
    c.sim.clearRecord();
    const QString log = form.Memo1->toPlainText();
    press(form.Button6);
    press(form.Button8);
    QCOMPARE(c.sim.received(), QByteArray());
    QCOMPARE(form.Memo1->toPlainText(), log);
}

void WindowExchangesTest::sirenThroughWindow()
{
    ConnectedWindow c;
    const QByteArray file = wav(3, 's');
    write("SIREN.wav", file);
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    WindowUnit &sim = c.sim;
    const int lines = logLines(form).size();
    press(form.Button8);
    QCOMPARE(logLines(form).mid(lines),
             QStringList({"Открытие SIREN.WAV", "Соединение с устройством ...", "Успешно",
                          "Запись SIREN", "Успешно"}));
    QCOMPARE(form.ProgressBar1->value(), 0);
    QCOMPARE(sim.received(), QByteArray("\x70\x00\x03", 3) + file.mid(44, 3 * 512));
    QFile stored(sim.recordingsDir() + "/SIREN.wav");
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll().mid(44), file.mid(44, 3 * 512));
}

void WindowExchangesTest::messagesThroughWindow()
{
    ConnectedWindow c;
    write("PPK1.wav", wav(2, '1'));
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    WindowUnit &sim = c.sim;
    int lines = logLines(form).size();
    press(form.Button6);
    QCOMPARE(logLines(form).mid(lines),
             QStringList({"Открытие PPK1.WAV", "Открытие PPK2.WAV", "Файл PPK2.wav не найден"}));
    QCOMPARE(sim.received(), QByteArray());
    write("PPK2.wav", wav(1, '2'));
    lines = logLines(form).size();
    press(form.Button6); // no new connect needed
    QCOMPARE(logLines(form).mid(lines),
             QStringList({"Открытие PPK1.WAV", "Открытие PPK2.WAV", "Соединение с устройством...",
                          "Успешно", "Запись PPK1", "Записано", "Запись PPK2", "Записано"}));
    QCOMPARE(sim.received().left(5), QByteArray("\x60\x00\x02\x00\x01", 5));
    QCOMPARE(sim.received().size(), 5 + 3 * 512);
}

// The notice of a line lost in an upload may still be on its way when the next connect runs;
// it must not count against the new line.
void WindowExchangesTest::reconnectAfterLossIsNotLost()
{
    ConnectedWindow c;
    write("SIREN.wav", wav(4, 's'));
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    c.sim.ok("fault hangup-after 2");
    press(form.Button8);
    const QString lost = QStringLiteral("Связь с устройством потеряна");
    QCOMPARE(logLines(form).last(), lost);
    c.sim.ok("fault none");
    c.sim.ok("reopen");
    press(form.Button1);
    QVERIFY(form.connected());
    QCOMPARE(logLines(form).last(), QString("Прочитано"));
    QCOMPARE(logLines(form).count(lost), 1);
}

void WindowExchangesTest::noTickInsideUpload()
{
    int ticksInside = 0;
    ConnectedWindow c;
    WindowUnit &sim = c.sim;
    write("SIREN.wav", wav(40, 'x'));
    sim.ok("fault late 15"); // every reply late: the upload takes a while
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    press(form.Button1);
    sim.ok("fault none");
    press(form.Button1);
    QVERIFY(form.connected());
    press(form.Button9); // polling on
    QTRY_VERIFY(sim.received().count('\x10') >= 2);
    sim.ok("fault late 5");
    sim.clearRecord();
    // Besides the polling timer's own, a tick at every step the bar shows, while the upload
    // runs.
    QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged, &form, [&] {
        ticksInside += form.busy();
        form.Timer1Timer();
    });
    press(form.Button8);
    QVERIFY(ticksInside > 0);
    QVERIFY(logLines(form).last() == "Успешно");
    QTRY_VERIFY(sim.received().endsWith('\x10')); // polling goes on afterwards
    const QByteArray wire = sim.received();
    // Between the command and the last block nothing else went to the unit.
    const qsizetype start = wire.indexOf('\x70');
    QVERIFY(start >= 0);
    const QByteArray upload = wire.mid(start, 3 + 40 * 512);
    QCOMPARE(upload, QByteArray("\x70\x00\x28", 3) + wav(40, 'x').mid(44, 40 * 512));
    press(form.Button9);
}

void WindowExchangesTest::noTickInsideSettingsWrite()
{
    int ticksInside = 0;
    ConnectedWindow c;
    QVERIFY(c.open());
    TForm1 &form = *c.form;
    press(form.Button1);
    press(form.Button9);
    QTRY_VERIFY(c.sim.received().count('\x10') >= 2);
    c.sim.clearRecord();
    // Besides the polling timer's own, a tick at every line the write logs, while it runs: the
    // 10 s pause before the read-back lies among them.
    QObject::connect(form.Memo1, &QPlainTextEdit::textChanged, &form, [&] {
        ticksInside += form.busy();
        form.Timer1Timer();
    });
    press(form.Button4);
    QVERIFY(ticksInside > 0);
    const QByteArray wire = c.sim.received();
    const qsizetype s = wire.indexOf('S');
    QVERIFY(s >= 0);
    QCOMPARE(wire.mid(s + 513, 1), QByteArray("R"));
    press(form.Button9);
}

void WindowExchangesTest::userInputDroppedWhileBusy()
{
    HeldWindow c;
    QVERIFY(c.connect());
    TForm1 &form = *c.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ErrorBoxCatcher boxes;
    // A press on "ЗАПИСЬ" arriving while "Читать" waits for the unit, through the window as the
    // user's does, must not run after it: no write, and no complaint of the fields it cleared.
    c.line.hold();
    form.Button5->click();
    QTRY_VERIFY(c.line.holding());
    QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, centreOf(form, form.Button4));
    c.line.release();
    QVERIFY(waitIdle(form));
    QCoreApplication::processEvents();
    QCOMPARE(c.sim.received(), QByteArray("RR"));
    QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(" | ")));
}

// A reply with junk ahead of it, or one whose tail comes after a gap, or one that comes after
// its time-out, is never taken for the next one: the window shows the unit's own block or
// nothing, a write then sends the unit's own block, and no measurement mixes two replies.
void WindowExchangesTest::strayRepliesNeverShift()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &f = *c.form;
    const QByteArray unit = c.sim.block();

    // The junk and the block's head fill exactly one block; the rest follows after the gap.
    for (const char *fault : {"fault garbage-once 3", "fault shift-once 5 1",
                              "fault shift-once 5 3", "fault shift-once 5 20"}) {
        c.sim.ok(fault);
        press(f.Button5);
        c.sim.settle();
        if (logLines(f).last() != QString("Прочитано")) {
            QVERIFY2(logLines(f).last().startsWith(QString("Ошибка чтения: ")), fault);
            QCOMPARE(f.Edit5->text(), QString("НЕТ ДАННЫХ"));
            press(f.Button5);
            QCOMPARE(logLines(f).last(), QString("Прочитано"));
        }
        QVERIFY2(f.Edit1->text() == QString::number(quint8(unit[0])), fault);
        QVERIFY2(f.Edit5->text() == QString::number(quint8(unit[6])), fault);
        c.sim.clearRecord();
        press(f.Button4); // the unit's own block goes back unchanged
        QVERIFY2(c.sim.received().mid(0, 513) == QByteArray("S") + unit, fault);
    }

    c.sim.ok("measure 1 2 3 4 5 6");
    c.sim.ok("fault late 300");
    const QStringList before = measuredTexts(f);
    press(f.Button7);
    QCOMPARE(measuredTexts(f), before);
    c.sim.settle(); // the late reply is in the driver now
    c.sim.ok("fault none");
    c.sim.ok("measure 7 8 9 10 11 12");
    press(f.Button7);
    QCOMPARE(measuredTexts(f), QStringList({"7", "8", "9", "10", "11", "12"}));

    // Junk ahead of a measurement and its tail a moment later; replies that come after their
    // time-out, one request after another.
    c.sim.ok("fault shift-once 3 1");
    press(f.Button7);
    QCOMPARE(measuredTexts(f), QStringList({"7", "8", "9", "10", "11", "12"}));
    c.sim.ok("measure 1 2 3 4 5 6");
    c.sim.ok("fault late 200");
    for (int n = 0; n < 4; ++n) {
        tick(f);
        QCOMPARE(measuredTexts(f), QStringList({"7", "8", "9", "10", "11", "12"}));
    }
    c.sim.settle();
    c.sim.ok("fault none");
    c.sim.ok("measure 7 8 9 10 11 12");

    c.sim.ok("fault tail-once 5"); // the rest comes glued ahead of the next reply
    press(f.Button7);
    press(f.Button7);
    QCOMPARE(measuredTexts(f), QStringList({"7", "8", "9", "10", "11", "12"}));
    c.sim.ok("measure 13 14 15 16 17 18");
    press(f.Button7);
    QCOMPARE(measuredTexts(f), QStringList({"13", "14", "15", "16", "17", "18"}));
}

// On the pty: the unit's end hangs up while the window idles: said once, the port let go, and
// a new connect works when the unit is back.
void WindowExchangesTest::lostLineSaidOnce()
{
    PtyWindow c;
    QVERIFY(c.connect());
    TForm1 &f = *c.form;
    const int lines = int(logLines(f).size());
    c.sim.ok("hangup");
    QTRY_VERIFY(!f.channel().isOpen());
    QTest::qWait(100);
    QCOMPARE(logLines(f).mid(lines), QStringList({"Связь с устройством потеряна"}));
    QVERIFY(!f.connected());
    c.sim.ok("reopen");
    press(f.Button1);
    QVERIFY(f.connected());
    QCOMPARE(logLines(f).last(), QString("Прочитано"));
}

// A port that talks unasked: the program keeps only a little of it, so the line fills up
// instead of the program's memory, and none of it passes for a reply.
void WindowExchangesTest::unaskedInputIsBounded()
{
    ComFolder folder;
    PtyPeer peer;
    folder.link("COM5", peer.slavePath());
    TForm1 form(nullptr, 100);
    waitIdle(form);
    press(form.Button1); // no answer: the port stays open, as a failed handshake leaves it
    QVERIFY(form.channel().isOpen());
    const QByteArray chatter(4096, 'x');
    qint64 taken = 0;
    for (int round = 0; round < 200; ++round) {
        taken += peer.offer(chatter);
        QCoreApplication::processEvents();
    }
    // 800 KiB offered: a program that keeps everything takes it all.
    QVERIFY2(taken < 200 * 1024, qPrintable(QString::number(taken)));
    peer.readAvailable(); // what the handshake sent
    // The unit answers the request, once it has come.
    QTimer answer;
    QByteArray asked;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        asked += peer.readAvailable(0);
        if (asked.contains('\x10')) {
            answer.stop();
            peer.write(QByteArray(12, '\x01'));
        }
    });
    answer.start(2);
    press(form.Button7); // the chatter is dropped before the request
    QCOMPARE(measuredTexts(form), QStringList({"257", "257", "257", "257", "257", "257"}));
}

// Keys and clicks made while the service panel polls all reach the window, in order, even
// with a unit that never answers.
void WindowExchangesTest::inputKeptWhilePolling()
{
    HeldWindow c;
    QVERIFY(c.connect());
    TForm1 &f = *c.form;
    f.show();
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    c.sim.ok("fault silent");
    f.Edit5->clear();
    f.Edit5->setFocus(Qt::OtherFocusReason);
    press(f.Button9); // polling on
    // A tick waits for the reply that never comes; the user types and opens the service panel
    // meanwhile, then stops the polling, all through the window.
    c.line.hold();
    QTRY_VERIFY(c.line.holding());
    const QString typed = "1234567890";
    for (const QChar key : typed)
        QTest::keyClick(f.windowHandle(), key.toLatin1());
    QCOMPARE(f.Edit5->text(), typed);
    QVERIFY(f.Timer1->isActive());
    QTest::mouseClick(f.windowHandle(), Qt::LeftButton, {}, centreOf(f, f.Button11));
    QVERIFY(f.Panel7->isVisible());
    QTest::mouseClick(f.windowHandle(), Qt::LeftButton, {}, centreOf(f, f.Button9));
    QVERIFY(!f.Timer1->isActive());
    QVERIFY(c.line.holding()); // all while the same tick waited
    c.line.release();
    QVERIFY(waitIdle(f));
    QCOMPARE(f.Edit5->text(), typed);
}

void WindowExchangesTest::onlyRegularFilesUploaded()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    QCOMPARE(::mkfifo("SIREN.wav", 0600), 0); // would wait for a writer for ever
    press(c.form->Button8);
    QCOMPARE(logLines(*c.form).mid(logLines(*c.form).size() - 2),
             QStringList({"Открытие SIREN.WAV", "Файл SIREN.wav: это не обычный файл"}));
    QCOMPARE(c.sim.received(), QByteArray());
}

// The unit gets the file as it was when the upload began, whatever happens to it meanwhile.
void WindowExchangesTest::fileChangedMidUploadSendsTheOriginal()
{
    HeldWindow c;
    QVERIFY(c.connect());
    const QByteArray original = wav(200, 'o');
    write("SIREN.wav", original);
    // Changed while the upload waits for the unit to take it.
    c.line.hold();
    c.form->Button8->click();
    QTRY_VERIFY(c.line.holding());
    QFile f("SIREN.wav");
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(44 + 100 * 512);
    f.write(QByteArray(512, 'z'));
    f.resize(44 + 150 * 512);
    f.close();
    c.line.release();
    QVERIFY(waitIdle(*c.form));
    QCOMPARE(logLines(*c.form).last(), QString("Успешно"));
    QCOMPARE(c.sim.received(), QByteArray("\x70\x00\xC8", 3) + original.mid(44, 200 * 512));
}

// An error raised in a handler that runs inside another one shows a box that takes keys.
void WindowExchangesTest::errorBoxFromNestedHandlerTakesKeys()
{
    AbsentUnit unit;
    TForm1 form(unit.line(), unit.clock());
    waitIdle(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    bool forced = false;
    QTimer::singleShot(100, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            QTest::keyClick(box, Qt::Key_Escape);
    });
    QTimer::singleShot(3000, [&forced] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            forced = true;
            box->done(0);
        }
    });
    HandlerGuard::run([] { HandlerGuard::run([] { throw ConversionError("x"); }); });
    QVERIFY2(!forced, "the box took no key");
}

QTEST_MAIN(WindowExchangesTest)
#include "tst_windowexchanges.moc"
