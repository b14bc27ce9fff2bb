// The settings block: the integer conversion of the fields, the block codec, and reading,
// writing and factory-resetting the unit's settings through the real window and the unit
// simulator: in the test's own process, and over a pty where the serial path is the point.

#include "app/apperror.h"
#include "app/tform1.h"
#include "device/intconv.h"
#include "device/settingsblock.h"
#include "device/writeplan.h"
#include "support/connectedwindow.h"
#include "support/errorboxcatcher.h"
#include "support/windowdriver.h"
#include "support/windowlog.h"

#include <QRandomGenerator>
#include <QTest>
#include <optional>

namespace {

using SettingsLayout::Field;
using Id = SettingsLayout::FieldId;

QByteArray transferBlock(TForm1 &form)
{
    return QByteArray(reinterpret_cast<const char *>(form.unit().transferBlock()), 512);
}

QByteArray factoryBlockOver(const QByteArray &before)
{
    QByteArray b = before;
    const auto &f = SettingsBlock::factoryValues();
    for (int i = 0; i < 50; ++i)
        b[i] = char(f[i]);
    return b;
}

// A block whose written one-byte fields (flags and track bars among them) lie in their ranges.
QByteArray randomConsistentBlock(quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray b(512, 0);
    for (int i = 0; i < 512; ++i)
        b[i] = char(random.bounded(256));
    for (const Field &field : SettingsLayout::Fields) {
        if (field.written && field.width == 1)
            b[field.offset] = char(random.bounded(field.min, field.max + 1));
    }
    return b;
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void integerConversion_data();
    void integerConversion();
    void conversionErrorMessage();
    void codecFieldsAndFactory();
    void codecLeavesPassThroughBytes();
    void writePlanChecksOnlyWhatChanges();

    void readShowsEveryField();
    void roundTripIsIdentical();
    void encodingEdges_data();
    void encodingEdges();
    void flagAndTrackBarOutOfRange();
    void deviceTypeTextKept();
    void writeBytesOnWire();
    void writeReadBackJudged();
    void readButton();
    void notConnected();
    void badTextSendsNothing();
    void everyFieldRejectsBadText();
    void shortReplyTakesNothing();
    void writeNotTakenByPort();
    void factoryResetIdentical();
    void factoryResetWithDifferences();
    void factoryResetSilentUnit();
    void factoryResetShortAfterGoodOne();
};

void SettingsTest::integerConversion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "300" << true << 300;
    QTest::newRow("leading blanks") << "   42" << true << 42;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("minus") << "-1" << true << -1;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("underflow") << "-2147483649" << false << 0;
    QTest::newRow("long digits") << "99999999999999999999" << false << 0;
    QTest::newRow("dollar hex") << "$1F" << true << 31;
    QTest::newRow("x hex") << "x10" << true << 16;
    QTest::newRow("X hex") << "Xff" << true << 255;
    QTest::newRow("0x hex") << "0x7FFFFFFF" << true << 2147483647;
    QTest::newRow("0X hex all ones") << "0XFFFFFFFF" << true << -1;
    QTest::newRow("blank then hex") << "  $10" << true << 16;
    QTest::newRow("nine hex digits") << "$000000001" << false << 0;
    QTest::newRow("hex without digits") << "$" << false << 0;
    QTest::newRow("0x without digits") << "0x" << false << 0;
    QTest::newRow("signed hex") << "-$10" << false << 0;
    QTest::newRow("bad hex digit") << "$1G" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank") << "   " << false << 0;
    QTest::newRow("trailing blank") << "12 " << false << 0;
    QTest::newRow("trailing text") << "12abc" << false << 0;
    QTest::newRow("no data") << "НЕТ ДАННЫХ" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("tab") << "\t5" << false << 0;
    QTest::newRow("decimal point") << "1.5" << false << 0;
    QTest::newRow("leading zeros") << "007" << true << 7;
}

void SettingsTest::integerConversion()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<std::int32_t> got = parseInteger(text);
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(*got, value);
}

void SettingsTest::conversionErrorMessage()
{
    try {
        toInteger(QStringLiteral("abc"));
        QFAIL("no error raised");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QString("'abc' is not a valid integer value"));
    }
}

void SettingsTest::codecFieldsAndFactory()
{
    SettingsBlock::Block block{};
    const auto &f = SettingsBlock::factoryValues();
    std::copy(f.begin(), f.end(), block.begin());
    // In block order, every field of the factory settings.
    const SettingsBlock::Values v = SettingsBlock::decode(block.data());
    QCOMPARE(v.values, (std::array<std::int32_t, SettingsLayout::Count>{
                           3, 1, 1, 1, 1, 0, 0, 30, 20, 1000, 3500, 700,  2900, 1,
                           1, 1, 1, 1, 1, 1, 1, 1,  0,  10,   50,   3100, 51,   12}));
    using SettingsBlock::DeviceType;
    QCOMPARE(SettingsBlock::deviceType(1), std::optional(DeviceType::Announcer));
    QCOMPARE(SettingsBlock::deviceType(2), std::optional(DeviceType::Console));
    QCOMPARE(SettingsBlock::deviceType(3), std::optional(DeviceType::InputModule));
    QVERIFY(!SettingsBlock::deviceType(0) && !SettingsBlock::deviceType(4) &&
            !SettingsBlock::deviceType(255));
}

void SettingsTest::codecLeavesPassThroughBytes()
{
    for (quint32 seed = 1; seed <= 50; ++seed) {
        const QByteArray original = randomConsistentBlock(seed);
        SettingsBlock::Block block;
        std::copy(original.begin(), original.end(), block.begin());
        SettingsBlock::encode(SettingsBlock::decode(block.data()), block.data());
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(block.data()), 512), original);
    }
    // Out-of-width values keep their low bits; nothing outside the written fields changes.
    SettingsBlock::Block block;
    block.fill(0xEE);
    SettingsBlock::Values v = SettingsBlock::decode(block.data());
    v[Id::NetworkAddress] = 300;
    v[Id::BoardCurrentDrift] = 70000;
    v[Id::AlertLineDrift] = -1;
    v[Id::DeviceType] = 9;
    v[Id::LaunchCount] = 0;
    SettingsBlock::encode(v, block.data());
    const auto at = [&block](Id id, int byte) {
        return block[std::size_t(SettingsLayout::field(id).offset + byte)];
    };
    QCOMPARE(at(Id::NetworkAddress, 0), std::uint8_t(44));
    QCOMPARE(at(Id::BoardCurrentDrift, 0), std::uint8_t(0x11));
    QCOMPARE(at(Id::BoardCurrentDrift, 1), std::uint8_t(0x70));
    QCOMPARE(at(Id::AlertLineDrift, 0), std::uint8_t(0xFF));
    QCOMPARE(at(Id::AlertLineDrift, 1), std::uint8_t(0xFF));
    for (int i = 0; i < SettingsBlock::Size; ++i) {
        const Field *field = SettingsLayout::at(i);
        if (!field || !field->written)
            QCOMPARE(block[std::size_t(i)], std::uint8_t(0xEE));
    }
}

// The plan lays the wanted values over the unit's block and refuses only what it changes out of
// range; a whole block keeps the unit's informative fields and its device type must match.
void SettingsTest::writePlanChecksOnlyWhatChanges()
{
    const Field &volume = SettingsLayout::field(Id::MessageVolume);
    const Field &relay = SettingsLayout::field(Id::RelayOnPpk2);
    const Field &address = SettingsLayout::field(Id::NetworkAddress);
    SettingsBlock::Block unit;
    const QByteArray random = randomConsistentBlock(31);
    std::copy(random.begin(), random.end(), unit.begin());
    unit[std::size_t(volume.offset)] = std::uint8_t(volume.max + 1); // held out of range
    unit[std::size_t(relay.offset)] = 2;                             // reads as clear
    unit[std::size_t(address.offset)] = 1;

    WritePlan::Request request;
    request.wanted[std::size_t(Id::NetworkAddress)] = 7;
    request.wanted[std::size_t(Id::RelayOnPpk2)] = 0;
    request.wanted[std::size_t(Id::LaunchCount)] = 0; // informative: never laid over
    WritePlan::Plan plan = WritePlan::plan(unit, request);
    QVERIFY(plan.sendable());
    SettingsBlock::Block expected = unit;
    expected[std::size_t(address.offset)] = 7;
    QVERIFY(plan.outgoing == expected);
    QCOMPARE(plan.differences.size(), std::size_t(1));
    QCOMPARE(plan.differences[0].field, &address);

    request.wanted[std::size_t(Id::MessageVolume)] = volume.max + 2;
    plan = WritePlan::plan(unit, request);
    QVERIFY(!plan.sendable() && !plan.foreignType);
    QCOMPARE(plan.refusals.size(), std::size_t(1));
    QCOMPARE(plan.refusals[0].field, &volume);
    QCOMPARE(plan.refusals[0].value, volume.max + 2);

    SettingsBlock::Block whole{};
    whole[1] = std::uint8_t(unit[1] + 1);
    plan = WritePlan::plan(unit, {{}, whole, false});
    QVERIFY(plan.foreignType);
    QCOMPARE(plan.foreignType->block, whole[1]);
    QCOMPARE(plan.foreignType->unit, unit[1]);
    plan = WritePlan::plan(unit, {{}, whole, true});
    QVERIFY(!plan.foreignType);
    for (const Field &field : SettingsLayout::Fields) {
        const std::uint8_t *from = field.written ? whole.data() : unit.data();
        QVERIFY2(std::equal(from + field.offset, from + field.offset + field.width,
                            plan.outgoing.begin() + field.offset),
                 field.key);
    }
}

void SettingsTest::readShowsEveryField()
{
    QByteArray b(512, 0);
    b[0] = 7;
    b[1] = 2;
    b[4] = char(0x12);
    b[5] = char(0x34);
    b[6] = 9;
    b[7] = 10;
    b[8] = 1;
    b[9] = 1;
    const int words[] = {10, 12, 14, 16, 18, 20, 40};
    for (int k = 0; k < 7; ++k) {
        b[words[k]] = char(0xFF);
        b[words[k] + 1] = char(0xF0 + k);
    }
    for (int i = 22; i <= 27; ++i)
        b[i] = char(i % 2);
    for (int i = 34; i <= 37; ++i)
        b[i] = char(i % 2);
    b[38] = 15;
    b[39] = char(200);
    b[42] = 77;
    b[43] = 5;
    ConnectedWindow c;
    QVERIFY(c.connect(b));
    TForm1 &f = *c.form;
    QCOMPARE(f.Edit1->text(), QString("7"));
    QCOMPARE(f.Edit2->text(), QString::number(0x1234));
    QCOMPARE(f.Edit4->text(), QString("ПУЛЬТ"));
    QCOMPARE(f.Edit5->text(), QString("9"));
    QCOMPARE(f.Edit6->text(), QString("10"));
    QLineEdit *wordBoxes[] = {f.Edit7, f.Edit8, f.Edit9, f.Edit10, f.Edit11, f.Edit12, f.Edit20};
    for (int k = 0; k < 7; ++k)
        QCOMPARE(wordBoxes[k]->text(), QString::number(0xFF00 + 0xF0 + k));
    QCOMPARE(f.Edit13->text(), QString("200"));
    QCheckBox *relay[] = {f.CheckBox5, f.CheckBox6, f.CheckBox7,
                          f.CheckBox8, f.CheckBox9, f.CheckBox10};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(relay[i]->isChecked(), (22 + i) % 2 == 1);
    QCheckBox *supervise[] = {f.CheckBox1, f.CheckBox2, f.CheckBox3, f.CheckBox4};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(supervise[i]->isChecked(), (34 + i) % 2 == 1);
    QVERIFY(f.CheckBox11->isChecked() && f.CheckBox12->isChecked());
    QCOMPARE(f.TrackBar1->value(), 15);
    QCOMPARE(f.TrackBar2->value(), 77);
    QCOMPARE(f.Edit21->text(), QString("77"));
    QCOMPARE(f.TrackBar3->value(), 5);
    QCOMPARE(f.Edit22->text(), QString("5"));
    QCOMPARE(transferBlock(f), b);
}

void SettingsTest::roundTripIsIdentical()
{
    for (quint32 seed : {11u, 12u, 13u}) {
        const QByteArray block = randomConsistentBlock(seed);
        ConnectedWindow c;
        QVERIFY(c.connect(block));
        press(c.form->Button4);
        QCOMPARE(c.sim.block(), block);
        QCOMPARE(logLines(*c.form).last(), QString("Прочитано"));
    }
}

void SettingsTest::encodingEdges_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shownAfter");
    QTest::newRow("300 in a byte") << "Edit5"
                                   << "300" << 6 << QByteArray("\x2C") << "44";
    QTest::newRow("256 in a byte") << "Edit5"
                                   << "256" << 6 << QByteArray(1, '\0') << "0";
    QTest::newRow("-1 in a byte") << "Edit6"
                                  << "-1" << 7 << QByteArray("\xFF") << "255";
    QTest::newRow("-1 in a word") << "Edit7"
                                  << "-1" << 10 << QByteArray("\xFF\xFF") << "65535";
    QTest::newRow("65536 in a word") << "Edit8"
                                     << "65536" << 12 << QByteArray(2, '\0') << "0";
    QTest::newRow("70000 in a word") << "Edit9"
                                     << "70000" << 14 << QByteArray("\x11\x70") << "4464";
    QTest::newRow("hex in a word") << "Edit20"
                                   << "$0C1D" << 40 << QByteArray("\x0C\x1D") << "3101";
    QTest::newRow("version") << "Edit1"
                             << " +4" << 0 << QByteArray("\x04") << "4";
    QTest::newRow("last field") << "Edit13"
                                << "0x33" << 39 << QByteArray("\x33") << "51";
}

void SettingsTest::encodingEdges()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shownAfter);
    ConnectedWindow c;
    QVERIFY(c.connect());
    const QByteArray before = c.sim.block();
    auto *edit = c.form->findChild<QLineEdit *>(field);
    QVERIFY(edit);
    edit->setText(text);
    press(c.form->Button4);
    QByteArray expected = before;
    expected.replace(offset, bytes.size(), bytes);
    QCOMPARE(c.sim.block(), expected);
    QCOMPARE(edit->text(), shownAfter); // the read-back shows what the unit kept
}

// The bars hold the ranges the fields are written in elsewhere (SettingsLayout).
void SettingsTest::flagAndTrackBarOutOfRange()
{
    const Field &frequency = SettingsLayout::field(Id::SupervisionFrequency);
    const Field &volume = SettingsLayout::field(Id::MessageVolume);
    const Field &blinkRate = SettingsLayout::field(Id::BoardBlinkRate);
    QByteArray b = randomConsistentBlock(5);
    b[23] = 2; // a flag of 2 counts as not set
    b[frequency.offset] = char(frequency.max + 1);
    b[volume.offset] = char(volume.min - 1);
    b[blinkRate.offset] = char(blinkRate.max + 5); // the hidden bar
    ConnectedWindow c;
    QVERIFY(c.connect(b));
    QVERIFY(!c.form->CheckBox6->isChecked());
    QCOMPARE(c.form->TrackBar2->value(), frequency.max);
    QCOMPARE(c.form->TrackBar3->value(), volume.min);
    QCOMPARE(c.form->Edit22->text(), QString::number(volume.min));
    QCOMPARE(c.form->TrackBar1->value(), blinkRate.max);
    press(c.form->Button4);
    QByteArray expected = b;
    expected[23] = 0;
    expected[frequency.offset] = char(frequency.max);
    expected[volume.offset] = char(volume.min);
    expected[blinkRate.offset] = char(blinkRate.max);
    QCOMPARE(c.sim.block(), expected);
}

void SettingsTest::deviceTypeTextKept()
{
    QByteArray b = randomConsistentBlock(6);
    b[1] = 2;
    ConnectedWindow c;
    QVERIFY(c.connect(b));
    QCOMPARE(c.form->Edit4->text(), QString("ПУЛЬТ"));
    for (const auto &[code, name] :
         {std::pair{3, "Модуль входов"}, std::pair{1, "ТАРВИК2"}, std::pair{2, "ПУЛЬТ"}}) {
        b[1] = char(code);
        c.sim.setBlock(b);
        press(c.form->Button5);
        QCOMPARE(c.form->Edit4->text(), QString(name));
    }
    b[1] = 7;
    c.sim.setBlock(b);
    press(c.form->Button1); // a reconnection keeps the text of the previous read
    QCOMPARE(c.form->Edit4->text(), QString("ПУЛЬТ"));
    press(c.form->Button5); // "Читать" clears first
    QCOMPARE(c.form->Edit4->text(), QString("НЕТ ДАННЫХ"));
    b[1] = 0;
    c.sim.setBlock(b);
    c.form->Edit4->setText("typed");
    c.form->Edit2->setText("also typed");
    press(c.form->Button1);
    QCOMPARE(c.form->Edit4->text(), QString("typed"));
    // Neither text goes to the unit: offsets 1, 4 and 5 pass through.
    c.form->Edit4->setText("ТАРВИК2");
    c.form->Edit2->setText("9");
    press(c.form->Button4);
    QCOMPARE(c.sim.block(), b);
}

void SettingsTest::writeBytesOnWire()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    const QByteArray before = c.sim.block();
    const int lines = logLines(*c.form).size();
    press(c.form->Button4);
    const QByteArray wire = c.sim.received();
    QCOMPARE(wire.size(), 1 + 512 + 2);
    QCOMPARE(wire.at(0), 'S');
    QCOMPARE(wire.mid(1, 512), before);
    QCOMPARE(wire.mid(513), QByteArray("RR")); // the read-back, confirmed
    QCOMPARE(logLines(*c.form).mid(lines),
             QStringList({"Запись настроек...", "Записано.", "Чтение настроек...", "ЖДИТЕ...",
                          "Прочитано"}));
}

// A read-back spoiled on its way is not taken for what the unit holds; a unit that stores
// something else than it was sent is said so, and shows what it holds.
void SettingsTest::writeReadBackJudged()
{
    ConnectedWindow c;
    QVERIFY(c.connect(randomConsistentBlock(24)));
    TForm1 &f = *c.form;
    const QByteArray unit = c.sim.block();
    c.sim.ok("fault corrupt 3");
    press(f.Button4);
    c.sim.ok("fault none");
    QCOMPARE(logLines(f).last(), QString("Прочитано"));
    press(f.Button4);
    QCOMPARE(c.sim.block(), unit);

    c.sim.ok("fault misstore 3");
    const int lines = logLines(f).size();
    press(f.Button4);
    QCOMPARE(logLines(f).mid(lines),
             QStringList({"Запись настроек...", "Записано.", "Чтение настроек...", "ЖДИТЕ...",
                          "Ошибка записи: устройство хранит другие данные (3 байт)", "Прочитано"}));
    QVERIFY(c.sim.block() != unit);
    QCOMPARE(transferBlock(f), c.sim.block());
}

void SettingsTest::readButton()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    const int lines = logLines(*c.form).size();
    press(c.form->Button5);
    QCOMPARE(c.sim.received(), QByteArray("RR"));
    QCOMPARE(logLines(*c.form).mid(lines), QStringList({"ЖДИТЕ...", "Прочитано"}));
    QCOMPARE(c.form->Edit9->text(), QString("1000"));
}

void SettingsTest::notConnected()
{
    ConnectedWindow c;
    QVERIFY(c.open());
    c.sim.ok("fault silent");
    TForm1 &form = *c.form;
    press(form.Button1); // fails: the port is open, the flag clear
    c.sim.clearRecord();
    const QString log = form.Memo1->toPlainText();
    form.Edit5->setText("5");
    form.CheckBox4->setChecked(true);
    press(form.Button4);
    press(form.Button3);
    QCOMPARE(form.Edit5->text(), QString("5"));
    QVERIFY(form.CheckBox4->isChecked());
    press(form.Button5); // clears and waits, then stops
    QCOMPARE(form.Edit5->text(), QString("НЕТ ДАННЫХ"));
    QVERIFY(!form.CheckBox4->isChecked());
    QCOMPARE(form.Memo1->toPlainText(), log);
    QCOMPARE(c.sim.received(), QByteArray());
}

void SettingsTest::badTextSendsNothing()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &f = *c.form;
    const QByteArray held = transferBlock(f);
    const QString log = f.Memo1->toPlainText();
    f.Edit5->setText("12");
    f.Edit9->setText("abc");
    f.Edit12->setText("");
    ErrorBoxCatcher boxes;
    press(f.Button4);
    QTRY_COMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.texts.first(), QString("'abc' is not a valid integer value."));
    QCOMPARE(boxes.titles.first(), QString("tst_settings"));
    QCOMPARE(c.sim.received(), QByteArray());
    QCOMPARE(transferBlock(f), held);
    QCOMPARE(f.Memo1->toPlainText(), log);
    QCOMPARE(f.Edit5->text(), QString("12"));
    QCOMPARE(f.Edit9->text(), QString("abc"));
    // The next bad field is reported once the first is mended; the last one is Edit13.
    f.Edit9->setText("1");
    f.Edit12->setText("7");
    f.Edit13->setText("0x");
    press(f.Button4);
    QTRY_COMPARE(boxes.texts.size(), 2);
    QCOMPARE(boxes.texts.last(), QString("'0x' is not a valid integer value."));
    QCOMPARE(c.sim.received(), QByteArray());
}

// Each bad text in each field, one at a time, the others holding what the unit sent.
void SettingsTest::everyFieldRejectsBadText()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    const QString log = c.form->Memo1->toPlainText();
    ErrorBoxCatcher boxes;
    for (const char *field : {"Edit1", "Edit5", "Edit6", "Edit7", "Edit8", "Edit9", "Edit10",
                              "Edit11", "Edit12", "Edit13", "Edit20"}) {
        auto *edit = c.form->findChild<QLineEdit *>(field);
        QVERIFY2(edit, field);
        const QString good = edit->text();
        for (const QString text : {"", "   ", "abc", "2147483648", "$123456789", "0x", "12 "}) {
            const QString where = QStringLiteral("%1 '%2': ").arg(field, text);
            const qsizetype shown = boxes.texts.size();
            edit->setText(text);
            press(c.form->Button4);
            QTRY_VERIFY2(boxes.texts.size() > shown, qPrintable(where + "no error box"));
            QVERIFY2(boxes.texts.mid(shown) ==
                         QStringList{"'" + text + "' is not a valid integer value."},
                     qPrintable(where + boxes.texts.mid(shown).join(" | ")));
            QVERIFY2(c.sim.received().isEmpty(), qPrintable(where + "bytes went out"));
            QVERIFY2(c.form->Memo1->toPlainText() == log, qPrintable(where + "the log changed"));
            QVERIFY2(edit->text() == text, qPrintable(where + "the field shows " + edit->text()));
            edit->setText(good);
        }
    }
}

void SettingsTest::shortReplyTakesNothing()
{
    ConnectedWindow c;
    QVERIFY(c.connect());
    TForm1 &f = *c.form;
    const QByteArray held = transferBlock(f);
    c.sim.ok("fault short 100");
    press(f.Button5);
    QCOMPARE(logLines(f).last(), QString("Ошибка чтения: получено 100 из 512 байт"));
    QCOMPARE(transferBlock(f), held);
    QCOMPARE(f.Edit9->text(), QString("НЕТ ДАННЫХ"));
    // Nothing stale can be written: the no-data fields stop the write before any byte.
    c.sim.ok("fault none");
    c.sim.clearRecord();
    ErrorBoxCatcher boxes;
    press(f.Button4);
    QTRY_COMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.texts.first(), QString("'НЕТ ДАННЫХ' is not a valid integer value."));
    QCOMPARE(c.sim.received(), QByteArray());

    c.sim.ok("fault silent");
    press(f.Button5);
    QCOMPARE(logLines(f).last(), QString("Ошибка чтения: получено 0 из 512 байт"));
}

// On the pty: the write meets the real line's hang-up.
void SettingsTest::writeNotTakenByPort()
{
    PtyWindow c;
    QVERIFY(c.connect());
    TForm1 &f = *c.form;
    c.sim.ok("hangup");
    f.Edit5->setText("77");
    press(f.Button4);
    const QStringList lines = logLines(f);
    QVERIFY(!lines.contains("Записано."));
    QCOMPARE(lines.mid(lines.size() - 3),
             QStringList({"Запись настроек...",
                          "Ошибка записи: порт не принял данные, настройки не записаны",
                          "Связь с устройством потеряна"}));
    QCOMPARE(f.Edit5->text(), QString("77")); // the typed values are kept for another try
    // The lost line has ended the connection: the reset sends nothing and says nothing.
    QVERIFY(!f.connected());
    press(f.Button3);
    QCOMPARE(logLines(f), lines);
}

void SettingsTest::factoryResetIdentical()
{
    const QByteArray start = randomConsistentBlock(21);
    ConnectedWindow c;
    QVERIFY(c.connect(start));
    TForm1 &f = *c.form;
    const QString edit9 = f.Edit9->text();
    const int lines = logLines(f).size();
    press(f.Button3);
    const QByteArray factory = factoryBlockOver(start);
    QCOMPARE(c.sim.received(), QByteArray("S") + factory + QByteArray("RR"));
    QCOMPARE(logLines(f).mid(lines), QStringList({"Запись...", "Завдские настройки"}));
    QCOMPARE(c.sim.block(), factory);
    // The window keeps its values but for the supervision frequency, moved to 39.
    QCOMPARE(f.TrackBar2->value(), 39);
    QCOMPARE(f.Edit21->text(), QString("39"));
    QCOMPARE(f.Edit9->text(), edit9);
    QCOMPARE(transferBlock(f), factory);
}

void SettingsTest::factoryResetWithDifferences()
{
    ConnectedWindow c;
    QVERIFY(c.connect(randomConsistentBlock(22)));
    c.sim.ok("fault misstore 3");
    const int lines = logLines(*c.form).size();
    press(c.form->Button3);
    QCOMPARE(logLines(*c.form).mid(lines),
             QStringList({"Запись...", "!!!!!!!!!!!!!!!!", "Ошибок:", "3", "!!!!!!!!!!!!!!!!"}));
}

void SettingsTest::factoryResetSilentUnit()
{
    ConnectedWindow c;
    QVERIFY(c.connect(randomConsistentBlock(23)));
    c.sim.ok("fault short 0");
    press(c.form->Button3);
    // Nothing came back: every byte of the read-back area that differs counts, and its first
    // byte still holds the 'R' just sent.
    QCOMPARE(c.form->unit().readBack()[0], std::uint8_t('R'));
    const QStringList lines = logLines(*c.form);
    QCOMPARE(lines.at(lines.size() - 3), QString("Ошибок:"));
    QVERIFY(lines.at(lines.size() - 2).toInt() >= 1);
}

void SettingsTest::factoryResetShortAfterGoodOne()
{
    ConnectedWindow c;
    QVERIFY(c.connect(randomConsistentBlock(24)));
    press(c.form->Button3);
    QCOMPARE(logLines(*c.form).last(), QString("Завдские настройки"));
    // The read-back area still holds the good answer; a short one must not pass for it.
    c.sim.ok("fault short 300");
    press(c.form->Button3);
    const QStringList lines = logLines(*c.form);
    QCOMPARE(lines.mid(lines.size() - 4),
             QStringList({"!!!!!!!!!!!!!!!!", "Ошибок:", "212", "!!!!!!!!!!!!!!!!"}));
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
