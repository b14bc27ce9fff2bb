// The window while it talks to the unit: the upload buttons, the rule that a handler has the
// line to itself (no measurement tick and no user input until it ends), and what the window
// does when the line, the unit or a file misbehaves.

#include "app/apperror.h"
#include "app/handlerguard.h"
#include "app/tform1.h"
#include "support/connectedwindow.h"
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
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    write("SIREN.wav", wav(2, 'a'));
    write("PPK1.wav", wav(2, 'b'));
    write("PPK2.wav", wav(2, 'c'));
    sim.ok("fault silent");
    TForm1 form(nullptr, 100);
    waitIdle(form);
    press(form.Button1); // the port opens, the handshake fails
    sim.clearRecord();
    const QString log = form.Memo1->toPlainText();
    press(form.Button6);
    press(form.Button8);
    QCOMPARE(sim.received(), QByteArray());
    QCOMPARE(form.Memo1->toPlainText(), log);
}

void WindowExchangesTest::sirenThroughWindow()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    const QByteArray file = wav(3, 's');
    write("SIREN.wav", file);
    TForm1 form(nullptr, 100);
    waitIdle(form);
    press(form.Button1);
    QVERIFY(form.connected());
    sim.clearRecord();
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
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    write("PPK1.wav", wav(2, '1'));
    TForm1 form(nullptr, 100);
    waitIdle(form);
    press(form.Button1);
    sim.clearRecord();
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

void WindowExchangesTest::noTickInsideUpload()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    write("SIREN.wav", wav(40, 'x'));
    sim.ok("fault late 15"); // every reply late: the upload takes a while
    TForm1 form(nullptr, 100);
    waitIdle(form);
    press(form.Button1);
    sim.ok("fault none");
    press(form.Button1);
    QVERIFY(form.connected());
    press(form.Button9); // polling on
    QTRY_VERIFY(sim.received().count('\x10') >= 2);
    sim.ok("fault late 5");
    sim.clearRecord();
    press(form.Button8);
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
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    TForm1 form(nullptr, 10); // the 10 s pause takes 1 s: many ticks would fit in it
    waitIdle(form);
    press(form.Button1);
    press(form.Button9);
    QTRY_VERIFY(sim.received().count('\x10') >= 2);
    sim.clearRecord();
    press(form.Button4);
    const QByteArray wire = sim.received();
    const qsizetype s = wire.indexOf('S');
    QVERIFY(s >= 0);
    QCOMPARE(wire.mid(s + 513, 1), QByteArray("R"));
    press(form.Button9);
}

void WindowExchangesTest::userInputDroppedWhileBusy()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    TForm1 form(nullptr, 1); // "Читать" waits a real second
    waitIdle(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    press(form.Button1);
    sim.clearRecord();
    // A press on "ЗАПИСЬ" arriving during the pause, through the window as the user's does,
    // must not run after it.
    QTimer::singleShot(300, [&] {
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {},
                          form.Button4->mapTo(&form, form.Button4->rect().center()));
    });
    press(form.Button5);
    QCoreApplication::processEvents();
    QCOMPARE(sim.received(), QByteArray("RR"));
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
    QTest::qWait(400); // the late reply is in the driver now
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
    QTest::qWait(300);
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

// The unit's end hangs up while the window idles: said once, the port let go, and a new
// connect works when the unit is back.
void WindowExchangesTest::lostLineSaidOnce()
{
    ConnectedWindow c;
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
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &f = *c.form;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    c.sim.ok("fault silent");
    f.Edit5->clear();
    press(f.Button9); // polling on
    const QString typed = "1234567890";
    for (int i = 0; i < typed.size(); ++i)
        QTimer::singleShot(37 * i, [&f, c = typed[i]] { QTest::keyClick(f.Edit5, c.toLatin1()); });
    QTRY_COMPARE(f.Edit5->text(), typed);
    QVERIFY(f.Timer1->isActive());
    QTimer::singleShot(0, [&f] { QTest::mouseClick(f.Button9, Qt::LeftButton); });
    QTRY_VERIFY(!f.Timer1->isActive());
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
    ConnectedWindow c;
    QVERIFY(c.connect());
    const QByteArray original = wav(200, 'o');
    write("SIREN.wav", original);
    QObject::connect(c.form->ProgressBar1, &QProgressBar::valueChanged, [](int value) {
        if (value == 3) {
            QFile f("SIREN.wav");
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(44 + 100 * 512);
            f.write(QByteArray(512, 'z'));
            f.resize(44 + 150 * 512);
        }
    });
    press(c.form->Button8);
    QCOMPARE(logLines(*c.form).last(), QString("Успешно"));
    QCOMPARE(c.sim.received(), QByteArray("\x70\x00\xC8", 3) + original.mid(44, 200 * 512));
}

// An error raised in a handler that runs inside another one shows a box that takes keys.
void WindowExchangesTest::errorBoxFromNestedHandlerTakesKeys()
{
    TForm1 form(nullptr, 100);
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
