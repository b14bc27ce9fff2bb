// The window while it talks to the unit: the upload buttons, and the rule that a handler has
// the line to itself (no measurement tick and no user input until it ends).

#include "app/tform1.h"
#include "support/simprocess.h"
#include "support/wavfile.h"
#include "support/windowlog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>

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
    form.Button1->click(); // the port opens, the handshake fails
    sim.clearRecord();
    const QString log = form.Memo1->toPlainText();
    form.Button6->click();
    form.Button8->click();
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
    form.Button1->click();
    QVERIFY(form.connected());
    sim.clearRecord();
    const int lines = logLines(form).size();
    form.Button8->click();
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
    form.Button1->click();
    sim.clearRecord();
    int lines = logLines(form).size();
    form.Button6->click();
    QCOMPARE(logLines(form).mid(lines),
             QStringList({"Открытие PPK1.WAV", "Открытие PPK2.WAV", "Файл PPK2.wav не найден"}));
    QCOMPARE(sim.received(), QByteArray());
    write("PPK2.wav", wav(1, '2'));
    lines = logLines(form).size();
    form.Button6->click(); // no new connect needed
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
    form.Button1->click();
    sim.ok("fault none");
    form.Button1->click();
    QVERIFY(form.connected());
    form.Button9->click(); // polling on
    QTRY_VERIFY(sim.received().count('\x10') >= 2);
    sim.ok("fault late 5");
    sim.clearRecord();
    form.Button8->click();
    QVERIFY(logLines(form).last() == "Успешно");
    QTRY_VERIFY(sim.received().endsWith('\x10')); // polling goes on afterwards
    const QByteArray wire = sim.received();
    // Between the command and the last block nothing else went to the unit.
    const qsizetype start = wire.indexOf('\x70');
    QVERIFY(start >= 0);
    const QByteArray upload = wire.mid(start, 3 + 40 * 512);
    QCOMPARE(upload, QByteArray("\x70\x00\x28", 3) + wav(40, 'x').mid(44, 40 * 512));
    form.Button9->click();
}

void WindowExchangesTest::noTickInsideSettingsWrite()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    TForm1 form(nullptr, 10); // the 10 s pause takes 1 s: many ticks would fit in it
    form.Button1->click();
    form.Button9->click();
    QTRY_VERIFY(sim.received().count('\x10') >= 2);
    sim.clearRecord();
    form.Button4->click();
    const QByteArray wire = sim.received();
    const qsizetype s = wire.indexOf('S');
    QVERIFY(s >= 0);
    QCOMPARE(wire.mid(s + 513, 1), QByteArray("R"));
    form.Button9->click();
}

void WindowExchangesTest::userInputDroppedWhileBusy()
{
    ComFolder folder;
    SimProcess sim(folder.path(), "COM5");
    QVERIFY(sim.start());
    TForm1 form(nullptr, 1); // "Читать" waits a real second
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Button1->click();
    sim.clearRecord();
    // A press on "ЗАПИСЬ" arriving during the pause must not run after it.
    QTimer::singleShot(300, [&] { QTest::mouseClick(form.Button4, Qt::LeftButton); });
    form.Button5->click();
    QCoreApplication::processEvents();
    QCOMPARE(sim.received(), QByteArray("R"));
}

QTEST_MAIN(WindowExchangesTest)
#include "tst_windowexchanges.moc"
