// The main window as the user first sees it: every control in its place with its caption, the
// window frame, the keyboard focus order, the state start-up leaves behind, the setting fields
// and their echo boxes, the standard error box, the product picture, and its text drawn at
// twice the size on a screen scaled by two.

#include "app/apperror.h"
#include "app/handlerguard.h"
#include "app/tform1.h"
#include "device/intconv.h"
#include "support/connectedwindow.h"
#include "support/windowdriver.h"

#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

const QString NoData = QStringLiteral("НЕТ ДАННЫХ");
const QString StartHint = QStringLiteral("Скорость мигания табло2");

// One control of the window as the user sees it right after start-up.
struct Control {
    const char *name;
    const char *kind;
    QRect geometry;   // relative to its container
    const char *text; // caption or text after start-up; nullptr: none to check here
    bool hidden;
    bool onServicePanel;
};

// clang-format off
const Control Controls[] = {
    // Column 1: port, connection and device.
    {"Button11", "QPushButton", {144, 0, 11, 25}, "s", false, false},
    {"Label1", "QLabel", {16, 8, 92, 13}, "Выбор COM-порта", false, false},
    {"ComboBox1", "QComboBox", {0, 24, 145, 21}, "COM5", false, false},
    {"Button15", "QPushButton", {16, 48, 75, 25}, "Сканировать", false, false},
    {"Button2", "QPushButton", {104, 48, 43, 41}, "X", false, false},
    {"Button1", "QPushButton", {8, 96, 89, 41}, "Подключить", false, false},
    {"Button4", "QPushButton", {8, 152, 75, 25}, "ЗАПИСЬ", false, false},
    {"Button5", "QPushButton", {96, 152, 49, 25}, "Читать", false, false},
    {"Label2", "QLabel", {8, 184, 56, 13}, "Версия ПО", false, false},
    {"Edit1", "QLineEdit", {8, 200, 121, 21}, "3", false, false},
    {"Label4", "QLabel", {8, 224, 79, 13}, "Тип устройства", false, false},
    {"Edit4", "QLineEdit", {8, 240, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Image1", "QLabel", {16, 272, 121, 105}, nullptr, true, false},
    {"Button3", "QPushButton", {8, 384, 129, 25}, "Сброс настроек", true, false},
    {"Label35", "QLabel", {32, 416, 61, 16}, "СТАТУС", false, false},
    {"Memo1", "QPlainTextEdit", {0, 440, 153, 121}, nullptr, false, false},
    // Column 2: network and sound.
    {"Label5", "QLabel", {168, 8, 127, 16}, "Сеть ТАРВИК 2", false, false},
    {"Label6", "QLabel", {176, 32, 66, 13}, "Адрес в сети", false, false},
    {"Edit5", "QLineEdit", {176, 48, 121, 24}, "НЕТ ДАННЫХ", false, false},
    {"Label7", "QLabel", {168, 88, 129, 13}, "Номер зоны оповещения", false, false},
    {"Edit6", "QLineEdit", {176, 104, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label3", "QLabel", {184, 256, 109, 13}, "Количество запусков", true, false},
    {"Edit2", "QLineEdit", {176, 272, 121, 21}, "Не определено", true, false},
    {"Panel8", "QFrame", {160, 305, 145, 8}, nullptr, false, false},
    {"Label34", "QLabel", {168, 320, 136, 13}, "Уровень звука сообщений", false, false},
    {"TrackBar3", "QSlider", {168, 336, 129, 33}, nullptr, false, false},
    {"Edit22", "QLineEdit", {216, 368, 33, 21}, "2", false, false},
    {"Panel10", "QFrame", {160, 401, 145, 8}, nullptr, false, false},
    {"ProgressBar1", "QProgressBar", {160, 416, 145, 17}, nullptr, false, false},
    {"Label21", "QLabel", {168, 432, 74, 16}, "Звуковые", false, false},
    {"Label22", "QLabel", {168, 448, 81, 16}, "сообщения", false, false},
    {"Button6", "QPushButton", {168, 472, 129, 25}, "Запись ППК1 и  ППК2", false, false},
    {"Button8", "QPushButton", {168, 504, 129, 25}, "Запись сирены", false, false},
    // Column 3: control parameters.
    {"Label8", "QLabel", {320, 8, 158, 16}, "Параметры контроля", false, false},
    {"Label17", "QLabel", {320, 32, 152, 16}, "табло и оповещения", false, false},
    {"Label9", "QLabel", {320, 56, 93, 13}, "Дрейф тока табло", false, false},
    {"Edit7", "QLineEdit", {320, 72, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label24", "QLabel", {320, 104, 90, 13}, "Время ухода тока", false, false},
    {"Edit13", "QLineEdit", {320, 120, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label10", "QLabel", {320, 168, 101, 13}, "Дрейф оповещения", false, false},
    {"Edit8", "QLineEdit", {320, 184, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label11", "QLabel", {320, 208, 108, 13}, "Время ухода сигнала", false, false},
    {"Edit9", "QLineEdit", {320, 224, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label32", "QLabel", {320, 248, 61, 13}, "Уровень КЗ", false, false},
    {"Edit20", "QLineEdit", {320, 264, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label33", "QLabel", {320, 296, 92, 13}, "Частота контроля", false, false},
    {"TrackBar2", "QSlider", {312, 312, 169, 33}, nullptr, false, false},
    {"Button14", "QPushButton", {320, 344, 17, 25}, "-", false, false},
    {"Edit21", "QLineEdit", {336, 344, 121, 21}, "1", false, false},
    {"Button13", "QPushButton", {456, 344, 17, 25}, "+", false, false},
    {"Panel4", "QFrame", {312, 369, 169, 8}, nullptr, false, false},
    {"Label15", "QLabel", {320, 376, 158, 16}, "Параметры контроля", false, false},
    {"Label16", "QLabel", {320, 392, 146, 16}, "входов управления", false, false},
    {"Label12", "QLabel", {320, 408, 34, 13}, "Обрыв", false, false},
    {"Edit10", "QLineEdit", {320, 424, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label13", "QLabel", {320, 448, 109, 13}, "Короткое замыкание", false, false},
    {"Edit11", "QLineEdit", {320, 464, 121, 21}, "НЕТ ДАННЫХ", false, false},
    {"Label14", "QLabel", {320, 488, 48, 13}, "Сработка", false, false},
    {"Edit12", "QLineEdit", {320, 504, 121, 21}, "НЕТ ДАННЫХ", false, false},
    // Column 4: relay, display and control enable.
    {"Label19", "QLabel", {496, 8, 115, 16}, "Реле \"РАБОТА\"", false, false},
    {"CheckBox5", "QCheckBox", {496, 32, 105, 17}, "ППК1", false, false},
    {"CheckBox6", "QCheckBox", {496, 56, 105, 17}, "ППК2", false, false},
    {"CheckBox7", "QCheckBox", {496, 80, 105, 17}, "ГОиЧС", false, false},
    {"CheckBox8", "QCheckBox", {496, 104, 105, 17}, "Лин.Вход", false, false},
    {"CheckBox9", "QCheckBox", {496, 128, 105, 17}, "Пульт", false, false},
    {"CheckBox10", "QCheckBox", {496, 152, 105, 17}, "Сирена", false, false},
    {"Panel6", "QFrame", {488, 193, 177, 8}, nullptr, false, false},
    {"Label20", "QLabel", {496, 208, 135, 16}, "Установки ТАБЛО", false, false},
    {"CheckBox11", "QCheckBox", {504, 232, 153, 17}, "Горит в деж. режиме", false, false},
    {"CheckBox12", "QCheckBox", {504, 256, 145, 17}, "Мигает при пожаре", true, false},
    {"Label23", "QLabel", {528, 288, 94, 13}, "Скорость мигания", true, false},
    {"TrackBar1", "QSlider", {496, 304, 150, 45}, nullptr, true, false},
    {"Label25", "QLabel", {560, 344, 3, 13}, "I", false, false},
    {"Panel9", "QFrame", {488, 385, 177, 8}, nullptr, false, false},
    {"Label18", "QLabel", {496, 400, 166, 16}, "Разрешение контроля", false, false},
    {"CheckBox1", "QCheckBox", {512, 432, 105, 17}, "Контроль ППК1", false, false},
    {"CheckBox2", "QCheckBox", {512, 456, 113, 17}, "Контроль ППК2", false, false},
    {"CheckBox3", "QCheckBox", {512, 480, 113, 17}, "Контроль ГОиЧС", false, false},
    {"CheckBox4", "QCheckBox", {512, 504, 113, 17}, "Пульт", false, false},
    // Separators and the bottom of the window.
    {"Panel1", "QFrame", {152, 0, 9, 561}, nullptr, false, false},
    {"Panel2", "QFrame", {304, 0, 9, 537}, nullptr, false, false},
    {"Panel3", "QFrame", {480, 0, 9, 537}, nullptr, false, false},
    {"Edit3", "QLineEdit", {168, 536, 505, 21}, "Скорость мигания табло2", false, false},
    {"Memo2", "QPlainTextEdit", {8, 568, 649, 73}, nullptr, false, false},
    // The service panel, parked left of the window, and its controls.
    {"Panel7", "QFrame", {-688, 64, 697, 265}, "Panel7", true, false},
    {"Button7", "QPushButton", {8, 8, 81, 25}, "Раз", false, true},
    {"Button9", "QPushButton", {96, 8, 81, 25}, "Цикл", false, true},
    {"Button10", "QPushButton", {184, 8, 25, 25}, "\u0425", false, true}, // Cyrillic Ha
    {"Chart1", "QChartView", {216, 8, 361, 249}, nullptr, false, true},
    {"Button12", "QPushButton", {592, 8, 75, 25}, "Сброс", false, true},
    {"Label26", "QLabel", {36, 40, 29, 13}, "ППК1", false, true},
    {"Label29", "QLabel", {156, 40, 22, 13}, "ADC", false, true},
    {"ComboBox2", "QComboBox", {584, 40, 97, 21}, "POWER", false, true},
    {"Edit14", "QLineEdit", {8, 56, 81, 21}, "0", false, true},
    {"Edit17", "QLineEdit", {128, 56, 81, 21}, "0", false, true},
    {"Label28", "QLabel", {36, 80, 29, 13}, "ППК2", false, true},
    {"Label30", "QLabel", {156, 80, 32, 13}, "LIGHT", false, true},
    {"Edit15", "QLineEdit", {8, 96, 81, 21}, "0", false, true},
    {"Edit18", "QLineEdit", {128, 96, 81, 21}, "0", false, true},
    {"Label27", "QLabel", {36, 120, 35, 13}, "ГОиЧС", false, true},
    {"Label31", "QLabel", {148, 120, 41, 13}, "POWER", false, true},
    {"Edit16", "QLineEdit", {8, 136, 81, 21}, "0", false, true},
    {"Edit19", "QLineEdit", {128, 136, 81, 21}, "0", false, true},
};
// clang-format on

// What the control shows as its caption or text.
QString shownText(QWidget *w)
{
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    return {};
}

QStringList lines(const QPlainTextEdit *box) { return box->toPlainText().split(QLatin1Char('\n')); }

// Shows the window and waits until it can be painted and clicked.
bool showWindow(TForm1 &form)
{
    form.show();
    return QTest::qWaitForWindowExposed(&form);
}

// An error box that came up while a handler ran, as the user saw it.
struct ErrorBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
};

// Runs `handler` inside the handler boundary and answers the first modal message box that
// comes up meanwhile with OK.
ErrorBox runAnsweringBox(const std::function<void()> &handler)
{
    ErrorBox seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&seen, &poll] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        seen.shown = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.modal = box->isModal();
        box->accept();
    });
    poll.start();
    HandlerGuard::run(handler);
    poll.stop();
    return seen;
}

void raiseConversionError(const QString &text) { throw ConversionError(text); }

// The window as drawn by a run of this program at the given scale factor (see main()).
QImage windowAtScale(const char *factor, const QString &file)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QLatin1String(factor));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--draw"), file});
    if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0)
        return {};
    return QImage(file);
}

// The rows, in device pixels, that the text of a control inks within its box, less a frame of
// the given width: dark pixels, or for red text strongly red ones.
int inkHeight(const QImage &window, const QRect &box, int frame, qreal scale)
{
    const int inset = qRound(frame * scale);
    const QRect inner = QRect(box.topLeft() * scale, box.size() * scale)
                            .adjusted(inset, inset, -inset, -inset)
                            .intersected(window.rect());
    int top = -1;
    int bottom = -1;
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
        for (int x = inner.left(); x <= inner.right(); ++x) {
            const QColor c = window.pixelColor(x, y);
            const bool ink = qGray(c.rgb()) < 96 || (c.red() > 160 && c.green() < 96);
            if (ink) {
                if (top < 0)
                    top = y;
                bottom = y;
                break;
            }
        }
    }
    return top < 0 ? 0 : bottom - top + 1;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

    AbsentUnit m_unit; // no port is free for the start-up scan

private slots:
    void layout_data();
    void layout();
    void windowFrame();
    void background();
    void tabOrder();
    void serviceTabOrder();
    void startUpState();
    void startUpRanges_data();
    void startUpRanges();
    void fieldStates();
    void clearallTwice();
    void stepButtons_data();
    void stepButtons();
    void volumeByKeyboard();
    void errorBoxTexts_data();
    void errorBoxTexts();
    void errorBoxCaption();
    void handlerError_data();
    void handlerError();
    void productPicture();
    void textAtScaleTwo_data();
    void textAtScaleTwo();
};

void TestWindow::layout_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("onServicePanel");
    for (const Control &c : Controls)
        QTest::addRow("%s", c.name)
            << QByteArray(c.kind) << c.geometry << (c.text ? QString::fromUtf8(c.text) : QString())
            << c.hidden << c.onServicePanel;
}

void TestWindow::layout()
{
    QFETCH(QByteArray, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, hidden);
    QFETCH(bool, onServicePanel);

    TForm1 form(m_unit.line(), m_unit.clock());

    waitIdle(form);
    QVERIFY(showWindow(form));
    auto *w = form.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QVERIFY2(w->inherits(kind), w->metaObject()->className());
    if (kind == "QFrame")
        QVERIFY2(!w->inherits("QLabel"), "a panel, not a label");

    QWidget *container = onServicePanel ? static_cast<QWidget *>(form.Panel7) : &form;
    QCOMPARE(w->parentWidget(), container);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->isVisibleTo(container), !hidden);
    if (!onServicePanel)
        QCOMPARE(w->isVisible(), !hidden);

    if (text.isNull())
        return;
    if (kind == "QFrame") {
        // A panel's caption is drawn by a label of its own.
        QStringList captions;
        for (QLabel *label : w->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            captions << label->text();
        QVERIFY2(captions.contains(text), qPrintable(captions.join(QLatin1Char('|'))));
        return;
    }
    QCOMPARE(shownText(w), text);
}

void TestWindow::windowFrame()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QCOMPARE(form.pos(), QPoint(1184, 124)); // stored, not centred
    QVERIFY(showWindow(form));

    QCOMPARE(form.windowTitle(), QStringLiteral("ТАРВИК2 V1.5"));
    QCOMPARE(form.size(), QSize(664, 640));
    QCOMPARE(form.minimumSize(), QSize(664, 640));
    QCOMPARE(form.maximumSize(), QSize(664, 640));
    QCOMPARE(form.pos(), QPoint(1184, 124));

    const Qt::WindowFlags flags = form.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowSystemMenuHint));

    // The user cannot stretch it either.
    form.resize(800, 700);
    QCOMPARE(form.size(), QSize(664, 640));
}

void TestWindow::background()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QVERIFY(showWindow(form));
    const QImage shot = form.grab().toImage();
    QCOMPARE(shot.size(), QSize(664, 640));
    // Bare spots of the window in columns 1, 2 and 4.
    for (const QPoint spot : {QPoint(148, 120), QPoint(240, 200), QPoint(655, 280)}) {
        const QWidget *cover = form.childAt(spot);
        QVERIFY2(!cover, qPrintable(cover ? cover->objectName() : QString()));
        QCOMPARE(shot.pixelColor(spot), QColor(192, 192, 192));
    }
}

// The Tab key leads through the visible, enabled controls that take focus, in the order of the
// layout tables; panels, labels, the picture and hidden or disabled controls are passed over.
void TestWindow::tabOrder()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QVERIFY(showWindow(form));
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.ComboBox1->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(form.ComboBox1));

    const QStringList expected{
        "ComboBox1", "Button1",    "Memo1",     "Button2",   "Edit1",     "Edit3",      "Edit4",
        "Edit5",     "Edit6",      "Button4",   "Edit7",     "Edit8",     "Edit9",      "Edit10",
        "Edit11",    "Edit12",     "Button5",   "CheckBox1", "CheckBox2", "CheckBox3",  "CheckBox4",
        "CheckBox5", "CheckBox6",  "CheckBox7", "CheckBox8", "CheckBox9", "CheckBox10", "Button6",
        "Button8",   "CheckBox11", "Edit13",    "Button11",  "Edit20",    "TrackBar2",  "Button13",
        "Button14",  "TrackBar3",  "Edit22",    "Button15",  "Memo2",     "ComboBox1"};
    QStringList walked{QApplication::focusWidget()->objectName()};
    while (walked.size() < expected.size() + 2) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QString name = QApplication::focusWidget()->objectName();
        // Whether a progress bar takes focus is the toolkit's business; it takes no input.
        if (name != QLatin1String("ProgressBar1"))
            walked << name;
        if (walked.size() > 1 && name == QLatin1String("ComboBox1"))
            break;
        if (walked.size() > 2 && walked.back() == walked[walked.size() - 2])
            break; // stuck: the control kept the Tab key
    }
    QCOMPARE(walked, expected);
}

// With the service panel open its controls take the panel's place in the order, between
// Edit13 and Button11, in the panel's own order; Edit2 joins between Edit1 and Edit3.
void TestWindow::serviceTabOrder()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QVERIFY(showWindow(form));
    QTest::mouseClick(form.Button11, Qt::LeftButton);
    QVERIFY(form.Panel7->isVisible());
    QVERIFY(form.Edit2->isVisible());

    QStringList chain;
    QWidget *w = form.ComboBox1;
    do {
        // Only the named controls count, not the parts they are built of.
        const bool part =
            !w->parentWidget() || (w->parentWidget() != &form && w->parentWidget() != form.Panel7);
        if (!part && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w != form.ComboBox1 && chain.size() < 200);

    auto slice = [&chain](const QString &from, const QString &to) {
        const qsizetype first = chain.indexOf(from);
        const qsizetype last = chain.indexOf(to);
        return first < 0 || last < first ? QStringList{} : chain.mid(first, last - first + 1);
    };
    QCOMPARE(slice("Edit1", "Edit3"), (QStringList{"Edit1", "Edit2", "Edit3"}));
    QStringList panel = slice("Edit13", "Button11");
    panel.removeAll(QStringLiteral("Chart1")); // a chart takes no keyboard input
    QCOMPARE(panel,
             (QStringList{"Edit13", "Edit14", "Button7", "Button9", "Edit16", "Button10", "Edit15",
                          "Edit17", "Edit18", "Edit19", "Button12", "ComboBox2", "Button11"}));
}

void TestWindow::startUpState()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QVERIFY(showWindow(form));

    QCOMPARE(form.ComboBox1->count(), 40);
    for (int i = 0; i < 40; ++i)
        QCOMPARE(form.ComboBox1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    QCOMPARE(form.ComboBox1->currentIndex(), 4);
    QCOMPARE(form.ComboBox1->currentText(), QStringLiteral("COM5"));
    QVERIFY(form.ComboBox1->isEditable());

    QCOMPARE(lines(form.Memo1),
             (QStringList{QStringLiteral("Доступные порты"), QStringLiteral("-------------")}));

    for (QLineEdit *edit : {form.Edit4, form.Edit5, form.Edit6, form.Edit7, form.Edit8, form.Edit9,
                            form.Edit10, form.Edit11, form.Edit12, form.Edit13, form.Edit20})
        QVERIFY2(edit->text() == NoData, qPrintable(edit->objectName() + ": " + edit->text()));
    QCOMPARE(form.Edit1->text(), QStringLiteral("3"));
    QCOMPARE(form.Edit2->text(), QStringLiteral("Не определено"));
    QCOMPARE(form.Edit21->text(), QStringLiteral("1"));
    QCOMPARE(form.Edit22->text(), QStringLiteral("2"));
    QCOMPARE(form.Edit3->text(), StartHint);

    for (QCheckBox *box : form.findChildren<QCheckBox *>())
        QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
    QCOMPARE(form.findChildren<QCheckBox *>().size(), 12);

    QVERIFY(!form.Timer1->isActive());
    QCOMPARE(form.Timer1->interval(), 100);
    QVERIFY(form.Button1->isEnabled());
    QVERIFY(!form.connected());

    QCOMPARE(
        lines(form.Memo2),
        (QStringList{QStringLiteral("Перед подключением нажать на блоке кнопку \"Откл зумм.\"  В "
                                    "случае  ошибок записи - перезапустить программу"),
                     QStringLiteral("Файлы PPK1.wav, PPK2.wav ,SIREN.wav должны находиться в той "
                                    "же папке, что и программа TARVIK2.exe !!!"),
                     QStringLiteral("После изменения всех настроек необходимо выйти из программы и "
                                    "перезапустить блок."),
                     QStringLiteral("Все параметры указаны в условных единицах.")}));

    QCOMPARE(form.ComboBox2->count(), 2);
    QCOMPARE(form.ComboBox2->itemText(0), QStringLiteral("POWER"));
    QCOMPARE(form.ComboBox2->itemText(1), QStringLiteral("LIGHT"));
    QCOMPARE(form.ComboBox2->currentIndex(), 0);

    QCOMPARE(form.Panel7->pos(), QPoint(-688, 64));
    QVERIFY(!form.Panel7->isVisible());
}

void TestWindow::startUpRanges_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("position");
    QTest::newRow("TrackBar1") << 2 << 20 << 2;
    QTest::newRow("TrackBar2") << 0 << 100 << 1;
    QTest::newRow("TrackBar3") << 2 << 16 << 2;
    QTest::newRow("ProgressBar1") << 0 << 100 << 0;
}

void TestWindow::startUpRanges()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, position);

    TForm1 form(m_unit.line(), m_unit.clock());

    waitIdle(form);
    QObject *control = form.findChild<QObject *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    if (auto *bar = qobject_cast<QSlider *>(control)) {
        QCOMPARE(bar->minimum(), minimum);
        QCOMPARE(bar->maximum(), maximum);
        QCOMPARE(bar->value(), position);
        QCOMPARE(bar->orientation(), Qt::Horizontal);
        QCOMPARE(bar->tickPosition(), QSlider::TicksBelow);
        QCOMPARE(bar->tickInterval(), 1);
    } else {
        auto *progress = qobject_cast<QProgressBar *>(control);
        QVERIFY(progress);
        QCOMPARE(progress->minimum(), minimum);
        QCOMPARE(progress->maximum(), maximum);
        QCOMPARE(progress->value(), position);
    }
}

void TestWindow::fieldStates()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QVERIFY(showWindow(form));
    QVERIFY(!form.Edit21->isEnabled());
    QVERIFY(form.Edit22->isReadOnly());
    QVERIFY(form.Edit2->isReadOnly());
    QVERIFY(form.Memo2->isReadOnly());
    // The log and the hint line take typing.
    QVERIFY(!form.Memo1->isReadOnly());
    QVERIFY(!form.Edit3->isReadOnly());
    QVERIFY(form.Memo1->verticalScrollBar()->isVisible());
    QCOMPARE(form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

void TestWindow::clearallTwice()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    // Fields that hold data, and bars away from their cleared positions.
    form.Edit4->setText(QStringLiteral("ТАРВИК2"));
    form.Edit9->setText(QStringLiteral("17"));
    form.Edit20->setText(QStringLiteral("40"));
    form.Edit1->setText(QStringLiteral("7"));
    form.CheckBox1->setChecked(true);
    form.CheckBox12->setChecked(true);
    form.TrackBar1->setValue(7);
    form.TrackBar2->setValue(50);
    form.TrackBar3->setValue(9);
    const QString log = form.Memo1->toPlainText();

    form.clearall();
    QCOMPARE(form.Edit4->text(), NoData);
    QCOMPARE(form.Edit9->text(), NoData);
    QCOMPARE(form.Edit20->text(), NoData);
    QCOMPARE(form.Edit1->text(), QStringLiteral("7"));
    QVERIFY(!form.CheckBox1->isChecked());
    QVERIFY(!form.CheckBox12->isChecked());
    QCOMPARE(form.Edit3->text(), StartHint);
    QCOMPARE(form.Edit21->text(), QStringLiteral("1"));
    QCOMPARE(form.Edit22->text(), QStringLiteral("2"));
    QCOMPARE(form.Memo1->toPlainText(), log);

    // The second run moves no bar, so no change handler writes anything.
    form.Edit3->setText(QStringLiteral("hint before"));
    form.Edit21->setText(QStringLiteral("echo 2"));
    form.Edit22->setText(QStringLiteral("echo 3"));
    form.Edit5->setText(QStringLiteral("12"));
    form.CheckBox7->setChecked(true);
    form.clearall();
    QCOMPARE(form.Edit3->text(), QStringLiteral("hint before"));
    QCOMPARE(form.Edit21->text(), QStringLiteral("echo 2"));
    QCOMPARE(form.Edit22->text(), QStringLiteral("echo 3"));
    QCOMPARE(form.Edit5->text(), NoData);
    QVERIFY(!form.CheckBox7->isChecked());
    QCOMPARE(form.TrackBar1->value(), 2);
    QCOMPARE(form.TrackBar2->value(), 1);
    QCOMPARE(form.TrackBar3->value(), 2);
}

void TestWindow::stepButtons_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("echo"); // null: Edit21 keeps what it showed
    QTest::newRow("+ at 0") << 0 << true << 1 << QStringLiteral("1");
    QTest::newRow("- at 0") << 0 << false << 0 << QString();
    QTest::newRow("+ at 50") << 50 << true << 51 << QStringLiteral("51");
    QTest::newRow("- at 50") << 50 << false << 49 << QStringLiteral("49");
    QTest::newRow("+ at 100") << 100 << true << 100 << QString();
    QTest::newRow("- at 100") << 100 << false << 99 << QStringLiteral("99");
}

void TestWindow::stepButtons()
{
    QFETCH(int, start);
    QFETCH(bool, up);
    QFETCH(int, position);
    QFETCH(QString, echo);

    TForm1 form(m_unit.line(), m_unit.clock());

    waitIdle(form);
    QVERIFY(showWindow(form));
    form.TrackBar2->setValue(start);
    QCOMPARE(form.Edit21->text(), QString::number(start));
    const QString marker = QStringLiteral("marker");
    form.Edit21->setText(marker);

    QTest::mouseClick(up ? form.Button13 : form.Button14, Qt::LeftButton);
    QCOMPARE(form.TrackBar2->value(), position);
    QCOMPARE(form.Edit21->text(), echo.isNull() ? marker : echo);
}

// The user moves the volume bar with the keyboard; the echo box follows step by step.
void TestWindow::volumeByKeyboard()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QVERIFY(showWindow(form));
    QCOMPARE(form.TrackBar3->value(), 2);
    for (int expected = 3; expected <= 9; ++expected) {
        QTest::keyClick(form.TrackBar3, Qt::Key_Right);
        QCOMPARE(form.Edit22->text(), QString::number(expected));
    }
    QCOMPARE(form.TrackBar3->value(), 9);
    QTest::keyClick(form.TrackBar3, Qt::Key_End);
    QCOMPARE(form.Edit22->text(), QStringLiteral("16"));
    QTest::keyClick(form.TrackBar3, Qt::Key_Home);
    QCOMPARE(form.Edit22->text(), QStringLiteral("2"));
}

void TestWindow::errorBoxTexts_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("text");
    QTest::newRow("letter") << QStringLiteral("abc") << QStringLiteral("abc.");
    QTest::newRow("full stop") << QStringLiteral("abc.") << QStringLiteral("abc.");
    QTest::newRow("exclamation") << QStringLiteral("ab!") << QStringLiteral("ab!");
    QTest::newRow("hyphen") << QStringLiteral("ab-") << QStringLiteral("ab-");
    QTest::newRow("slash") << QStringLiteral("ab/") << QStringLiteral("ab/.");
    QTest::newRow("digit") << QStringLiteral("COM5") << QStringLiteral("COM5.");
    QTest::newRow("quote") << QStringLiteral("'x'") << QStringLiteral("'x'");
    QTest::newRow("cyrillic") << QStringLiteral("Ошибка") << QStringLiteral("Ошибка.");
    QTest::newRow("empty") << QString() << QString();
}

void TestWindow::errorBoxTexts()
{
    QFETCH(QString, message);
    QFETCH(QString, text);
    QCOMPARE(HandlerGuard::boxText(message), text);
}

void TestWindow::errorBoxCaption()
{
    QCOMPARE(HandlerGuard::caption(), QStringLiteral("tst_window"));
    QCOMPARE(HandlerGuard::caption(),
             QFileInfo(QCoreApplication::applicationFilePath()).baseName());
}

void TestWindow::handlerError_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("converted"); // through the field conversion, else raised directly
    QTest::addColumn<QString>("text");
    QTest::newRow("raised") << QStringLiteral("abc") << false
                            << QStringLiteral("'abc' is not a valid integer value.");
    QTest::newRow("no-data field")
        << NoData << true << QStringLiteral("'НЕТ ДАННЫХ' is not a valid integer value.");
    QTest::newRow("empty field") << QString() << true
                                 << QStringLiteral("'' is not a valid integer value.");
}

void TestWindow::handlerError()
{
    QFETCH(QString, field);
    QFETCH(bool, converted);
    QFETCH(QString, text);

    TForm1 form(m_unit.line(), m_unit.clock());

    waitIdle(form);
    QVERIFY(showWindow(form));

    bool before = false;
    bool after = false;
    const ErrorBox box = runAnsweringBox([&] {
        before = true;
        if (converted)
            form.Edit1->setText(QString::number(toInteger(field)));
        else
            raiseConversionError(field);
        after = true;
    });
    QVERIFY(box.shown);
    QVERIFY(box.modal);
    QCOMPARE(box.title, QStringLiteral("tst_window"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(before);
    QVERIFY(!after);
    QCOMPARE(form.Edit1->text(), QStringLiteral("3"));
    QVERIFY(!QApplication::activeModalWidget());

    // The program carries on: the next handler runs to its end without a box.
    bool ran = false;
    const ErrorBox none = runAnsweringBox([&] {
        form.Button13Click();
        ran = true;
    });
    QVERIFY(ran);
    QVERIFY(!none.shown);
    QCOMPARE(form.Edit21->text(), QStringLiteral("2"));

    // A button press still reaches its handler.
    QTest::mouseClick(form.Button13, Qt::LeftButton);
    QCOMPARE(form.Edit21->text(), QStringLiteral("3"));
}

void TestWindow::productPicture()
{
    TForm1 form(m_unit.line(), m_unit.clock());
    waitIdle(form);
    QVERIFY(showWindow(form));
    QVERIFY(!form.Image1->isVisible());

    QImageReader reader(QStringLiteral(":/product.jpg"));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(432, 314));
    const QImage picture = reader.read();
    QVERIFY2(!picture.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(picture.size(), QSize(432, 314));
}

// The window font at scale 1 is the bitmap face, which has no larger strike: a window that kept
// it at scale 2 draws small glyphs spread over doubled advances. Every text must grow with the
// picture, the plain window font, a bold heading, Button2's large "X" and Edit5 alike.
void TestWindow::textAtScaleTwo_data()
{
    QTest::addColumn<QRect>("box");
    QTest::addColumn<int>("frame");
    QTest::newRow("Label1, window font") << QRect(16, 8, 92, 13) << 0;
    QTest::newRow("Label11, window font") << QRect(320, 208, 108, 13) << 0;
    QTest::newRow("Label8, heading") << QRect(320, 8, 158, 16) << 0;
    QTest::newRow("Button2, red X") << QRect(104, 48, 43, 41) << 3;
    QTest::newRow("Edit5") << QRect(176, 48, 121, 24) << 3;
}

void TestWindow::textAtScaleTwo()
{
    QFETCH(QRect, box);
    QFETCH(int, frame);
    static QTemporaryDir dir;
    static const QImage one = windowAtScale("1", dir.filePath(QStringLiteral("1.png")));
    static const QImage two = windowAtScale("2", dir.filePath(QStringLiteral("2.png")));
    QCOMPARE(one.size(), QSize(664, 640));
    QCOMPARE(two.size(), QSize(1328, 1280));

    const int single = inkHeight(one, box, frame, 1);
    const int doubled = inkHeight(two, box, frame, 2);
    QVERIFY2(single >= 7, qPrintable(QString::number(single)));
    // Twice the height, give or take a device pixel of rounding at each edge.
    QVERIFY2(
        qAbs(doubled - 2 * single) <= 2,
        qPrintable(QStringLiteral("%1 px at scale 1, %2 px at scale 2").arg(single).arg(doubled)));
}

// With --draw FILE the program shows the window once at the scale its environment sets, saves
// what it drew and ends; textAtScaleTwo runs it so. Otherwise it runs the tests, on a desk-sized
// offscreen screen so that the stored position is where the window stays.
int main(int argc, char *argv[])
{
    QTemporaryDir screens;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        const QString config = screens.filePath(QStringLiteral("screens.json"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920,)"
                       R"( "height": 1080, "logicalDpi": 96}]})") < 0)
            return 2;
        file.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    }
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (argc == 3 && qstrcmp(argv[1], "--draw") == 0) {
        AbsentUnit unit;
        TForm1 form(unit.line(), unit.clock());
        waitIdle(form);
        if (!showWindow(form) || !form.grab().toImage().save(QString::fromLocal8Bit(argv[2])))
            return 1;
        return 0;
    }
    TestWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
