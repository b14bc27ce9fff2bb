// The hint line: the help text of the control under the mouse pointer, written on every move
// over it and kept when the pointer leaves, and the flash-rate text of the hidden blink bar.
// The pointer is moved through the window system, so the toolkit itself finds the control
// under it.

#include "app/tform1.h"
#include "support/connectedwindow.h"
#include "support/windowdriver.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>
#include <memory>

namespace {

const QString StartHint = QStringLiteral("Скорость мигания табло2");
const QString Marker = QStringLiteral("-- hint line before --");

const QString Edit6Text = QStringLiteral("Номер зоны оповещения для данного кстройства");
const QString Edit9Text =
    QStringLiteral("Постоянная времени ухода из нормы сигнала контроля при неисправности");

// A spot of the bare window, away from every control.
const QPoint BareSpot(148, 120);

std::unique_ptr<TForm1> shownWindow(SimulatedUnit &unit)
{
    auto form = std::make_unique<TForm1>(unit.line(), unit.clock());
    waitIdle(*form);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        return nullptr;
    return form;
}

// Where the pointer goes to be over the control: its centre, in window coordinates.
QPoint centreOf(const TForm1 &form, const QWidget *control)
{
    return control->mapTo(&form, control->rect().center());
}

void moveTo(TForm1 &form, QPoint spot) { QTest::mouseMove(form.windowHandle(), spot); }

// The named control the toolkit finds at a spot of the window (not the parts it is built of).
QWidget *controlAt(TForm1 &form, QPoint spot)
{
    QWidget *w = form.childAt(spot);
    while (w && w->parentWidget() != &form && w->parentWidget() != form.Panel7)
        w = w->parentWidget();
    return w;
}

} // namespace

class TestHints : public QObject {
    Q_OBJECT

    AbsentUnit m_unit; // no port is free for the start-up scan

private slots:
    void startUpText();
    void mouseMoveTexts_data();
    void mouseMoveTexts();
    void noHint_data();
    void noHint();
    void leavingKeepsText();
    void movingInsideRewrites_data();
    void movingInsideRewrites();
    void disabledAndHidden_data();
    void disabledAndHidden();
    void hiddenHandlers();
    void typedOver();
    void flashRate_data();
    void flashRate();
};

void TestHints::startUpText()
{
    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    QCOMPARE(form->Edit3->text(), StartHint);
}

void TestHints::mouseMoveTexts_data()
{
    QTest::addColumn<QString>("text");
    // clang-format off
    QTest::newRow("Button1") << QStringLiteral("Поск устройства на выбранном COM порту. Выбирете COM порт ");
    QTest::newRow("Button2") << QStringLiteral("ВЫХОД из программы");
    QTest::newRow("Button4") << QStringLiteral("Записывает все параметры в устройство. Обязательное действие для сохранения информации!!!");
    QTest::newRow("Button6") << QStringLiteral("Записывает сообщение ППК1 и ППК 2 в ТАРВИК из файла PPK1.wav и PPK2.wav");
    QTest::newRow("Button8") << QStringLiteral("Записывает звук сирены из файла SIRENA.wav");
    QTest::newRow("Memo1") << QStringLiteral("Отображает историю действий программы с устройством");
    QTest::newRow("Edit1") << QStringLiteral("Версия программного обеспечения устройства");
    QTest::newRow("Edit2") << QStringLiteral("Количество запусков устройства.");
    QTest::newRow("Edit3") << QStringLiteral("Подсказка");
    QTest::newRow("Edit5") << QStringLiteral("Адрес устройства в сети ТАРВИК2");
    QTest::newRow("Edit6") << Edit6Text;
    QTest::newRow("Edit22") << Edit6Text;
    QTest::newRow("Edit7") << QStringLiteral("Допустимый диапазон изменения тока контроля табло, который не вызывает <НЕИСПРАВНОСТЬ>");
    QTest::newRow("Edit13") << QStringLiteral("Время регистрации ухода тока контроля табло");
    QTest::newRow("Edit8") << QStringLiteral("Допустимый диапазон изменения сигнала контроля линии оповещения, который не вызывает <НЕИСПРАВНОСТЬ>");
    QTest::newRow("Edit9") << Edit9Text;
    QTest::newRow("Edit20") << Edit9Text;
    QTest::newRow("Edit10") << QStringLiteral("Уровень сигнала выше которого входная линия управления - оборвана");
    QTest::newRow("Edit11") << QStringLiteral("Уровень сигнала ниже которого входная линия управления - короткозамкнута");
    QTest::newRow("Edit12") << QStringLiteral("Ниже этого уровня - Сработка, выше - дежурный режим, с учётом КЗ и обрыва");
    QTest::newRow("CheckBox1") << QStringLiteral("Разрешает контроль линии связи со входом управлени ППК1");
    QTest::newRow("CheckBox2") << QStringLiteral("Разрешает контроль линии связи со входом управлени ППК2");
    QTest::newRow("CheckBox3") << QStringLiteral("Разрешает контроль линии связи со входом управлени ГОиЧС");
    QTest::newRow("CheckBox4") << QStringLiteral("Разрешает контроль линии связи пультом и RS-485");
    QTest::newRow("CheckBox5") << QStringLiteral("Разрешает замыкание реле <РАБОТА> при проигрывании сообщения ППК1");
    QTest::newRow("CheckBox6") << QStringLiteral("Разрешает замыкание реле <РАБОТА> при проигрывании сообщения ППК2");
    QTest::newRow("CheckBox7") << QStringLiteral("Разрешает замыкание реле <РАБОТА> при трансляции ГОиЧС");
    QTest::newRow("CheckBox8") << QStringLiteral("Разрешает замыкание реле <РАБОТА> при трансляции с музыкального входа");
    QTest::newRow("CheckBox9") << QStringLiteral("Разрешает замыкание реле <РАБОТА> при трансляции сигнала с пульта");
    QTest::newRow("CheckBox10") << QStringLiteral("Разрешает замыкание реле <РАБОТА> при проигрывании звука сирены");
    QTest::newRow("CheckBox11") << QStringLiteral("Режим работы табло в дежурном режиме (вкл/выкл)");
    // clang-format on
}

void TestHints::mouseMoveTexts()
{
    QFETCH(QString, text);

    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    auto *control = form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    if (control == form->Edit2) {
        QTest::mouseClick(form->Button11, Qt::LeftButton); // the service button reveals it
        QVERIFY(form->Edit2->isVisible());
    }
    moveTo(*form, BareSpot);
    form->Edit3->setText(Marker);

    const QPoint spot = centreOf(*form, control);
    QCOMPARE(controlAt(*form, spot), control);
    moveTo(*form, spot);
    QCOMPARE(form->Edit3->text(), text);
}

// Controls without a help text leave the line as it was.
void TestHints::noHint_data()
{
    QTest::addColumn<bool>("servicePanel");
    for (const char *name : {"ComboBox1", "Button5", "Button11", "Button13", "Button14", "Button15",
                             "Edit4", "TrackBar2", "TrackBar3", "ProgressBar1", "Memo2", "Label1",
                             "Label34", "Label19", "Panel1", "Panel6"})
        QTest::addRow("%s", name) << false;
    for (const char *name : {"Button7", "Button9", "Button10", "Button12", "Edit14", "Edit19",
                             "ComboBox2", "Chart1", "Label26"})
        QTest::addRow("%s", name) << true;
}

void TestHints::noHint()
{
    QFETCH(bool, servicePanel);

    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    if (servicePanel)
        QTest::mouseClick(form->Button11, Qt::LeftButton);
    auto *control = form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QVERIFY(control->isVisible());
    moveTo(*form, BareSpot);
    form->Edit3->setText(Marker);

    const QPoint spot = centreOf(*form, control);
    QCOMPARE(controlAt(*form, spot), control);
    moveTo(*form, spot);
    moveTo(*form, spot + QPoint(1, 1));
    QCOMPARE(form->Edit3->text(), Marker);
}

void TestHints::leavingKeepsText()
{
    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    moveTo(*form, centreOf(*form, form->Button1));
    const QString button1 = form->Edit3->text();
    QVERIFY(button1.endsWith(QStringLiteral("COM порт ")));

    moveTo(*form, centreOf(*form, form->Button5));
    QCOMPARE(form->Edit3->text(), button1);
    moveTo(*form, BareSpot);
    QCOMPARE(form->Edit3->text(), button1);

    // On to another hinted control, and off it onto the bare window.
    moveTo(*form, centreOf(*form, form->CheckBox4));
    QCOMPARE(form->Edit3->text(),
             QStringLiteral("Разрешает контроль линии связи пультом и RS-485"));
    moveTo(*form, BareSpot);
    QCOMPARE(form->Edit3->text(),
             QStringLiteral("Разрешает контроль линии связи пультом и RS-485"));
}

// Every movement over a control writes its text, not only the entry.
void TestHints::movingInsideRewrites_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("Edit7") << QStringLiteral("Допустимый диапазон изменения тока контроля табло, "
                                             "который не вызывает <НЕИСПРАВНОСТЬ>");
    QTest::newRow("Memo1") << QStringLiteral("Отображает историю действий программы с устройством");
    QTest::newRow("CheckBox5") << QStringLiteral(
        "Разрешает замыкание реле <РАБОТА> при проигрывании сообщения ППК1");
    QTest::newRow("Button2") << QStringLiteral("ВЫХОД из программы");
}

void TestHints::movingInsideRewrites()
{
    QFETCH(QString, text);

    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    auto *control = form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    const QPoint spot = centreOf(*form, control);
    moveTo(*form, spot);
    QCOMPARE(form->Edit3->text(), text);

    for (const QPoint step : {QPoint(2, 1), QPoint(-3, 2), QPoint(1, -2)}) {
        form->Edit3->setText(Marker);
        moveTo(*form, spot + step);
        QCOMPARE(controlAt(*form, spot + step), control);
        QCOMPARE(form->Edit3->text(), text);
    }
}

// A disabled or hidden control receives no mouse movement, so its handler never runs.
void TestHints::disabledAndHidden_data()
{
    QTest::addColumn<bool>("hidden");
    QTest::newRow("Edit21") << false;
    QTest::newRow("Button3") << true;
    QTest::newRow("CheckBox12") << true;
}

void TestHints::disabledAndHidden()
{
    QFETCH(bool, hidden);

    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    auto *control = form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->isVisible(), !hidden);
    QVERIFY(hidden || !control->isEnabled());
    moveTo(*form, BareSpot);
    form->Edit3->setText(Marker);

    const QPoint spot = centreOf(*form, control);
    moveTo(*form, spot);
    moveTo(*form, spot + QPoint(2, 1));
    QCOMPARE(form->Edit3->text(), Marker);
}

void TestHints::hiddenHandlers()
{
    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    form->Button3MouseMove();
    QCOMPARE(form->Edit3->text(),
             QStringLiteral("Сброс всех настроек к заводским. Настрой по умолчанию"));
    form->CheckBox12MouseMove();
    QCOMPARE(form->Edit3->text(), QStringLiteral("Режим работы табло при пожаре"));
}

void TestHints::typedOver()
{
    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    QTest::mouseClick(form->Edit3, Qt::LeftButton);
    QTest::keyClick(form->Edit3, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(form->Edit3, QStringLiteral("typed by hand"));
    QCOMPARE(form->Edit3->text(), QStringLiteral("typed by hand"));

    moveTo(*form, centreOf(*form, form->Edit3));
    QCOMPARE(form->Edit3->text(), QStringLiteral("Подсказка"));
}

void TestHints::flashRate_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("text"); // null: the line keeps what it showed
    QTest::newRow("same position") << 2 << 2 << QString();
    QTest::newRow("below range at minimum") << 2 << 1 << QString();
    QTest::newRow("above range at maximum") << 20 << 25 << QString();
    QTest::newRow("above range") << 2 << 25 << QStringLiteral("Скорость мигания табло20");
    QTest::newRow("below range") << 10 << 1 << QStringLiteral("Скорость мигания табло2");
    QTest::newRow("zero") << 7 << 0 << QStringLiteral("Скорость мигания табло2");
    QTest::newRow("within range") << 2 << 7 << QStringLiteral("Скорость мигания табло7");
    QTest::newRow("maximum") << 19 << 20 << QStringLiteral("Скорость мигания табло20");
}

void TestHints::flashRate()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, text);

    const auto form = shownWindow(m_unit);
    QVERIFY(form);
    form->TrackBar1->setValue(from);
    QCOMPARE(form->Edit3->text(), QStringLiteral("Скорость мигания табло") + QString::number(from));
    form->Edit3->setText(Marker);

    form->TrackBar1->setValue(to);
    QCOMPARE(form->Edit3->text(), text.isNull() ? Marker : text);
}

QTEST_MAIN(TestHints)
#include "tst_hints.moc"
