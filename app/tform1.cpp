#include "app/tform1.h"

#include "app/busyshield.h"
#include "app/handlerguard.h"
#include "app/placement.h"
#include "app/trendchart.h"
#include "app/windowfonts.h"
#include "serial/comnames.h"
#include "serial/portscan.h"
#include "version.h"

#include <QCloseEvent>
#include <QIcon>
#include <QScrollBar>
#include <QTimer>
#include <exception>

// The pictures live in the core library, which is linked statically.
static void loadAssets() { Q_INIT_RESOURCE(assets); }

namespace {
constexpr int ClientWidth = 664;
constexpr int ClientHeight = 640;
constexpr int StoredLeft = 1184;
constexpr int StoredTop = 124;
constexpr int PollIntervalMs = 100;
} // namespace

TForm1::TForm1(QWidget *parent, int clockSpeedup)
    : TForm1(UnitSession::serialPort(clockSpeedup), parent)
{
}

TForm1::TForm1(Line &line, const Clock &clock, QWidget *parent)
    : TForm1(std::make_unique<UnitSession>(line, clock), parent)
{
}

TForm1::TForm1(std::unique_ptr<UnitSession> session, QWidget *parent)
    : QWidget(parent), Timer1(new QTimer(this)), m_session(std::move(session))
{
    loadAssets();
    setupUi(this);
    setWindowTitle(QStringLiteral("ТАРВИК2 V" TARVIK2_VERSION));
    // A dialog frame with the title only: no close, minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(ClientWidth, ClientHeight);
    Placement::place(this, QPoint(StoredLeft, StoredTop));
    WindowFonts::apply(this);
    QIcon icon;
    for (const char *size : {"16", "32", "48"})
        icon.addFile(QStringLiteral(":/icon%1.png").arg(QLatin1String(size)));
    setWindowIcon(icon);

    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    Timer1->setInterval(PollIntervalMs);
    m_trend = std::make_unique<TrendChart>(Chart1);
    m_shield = new BusyShield(this);

    // A loss is told on the session's thread; the window hears of it on its own.
    connect(m_session.get(), &UnitSession::lineLost, this, &TForm1::lineLost, Qt::QueuedConnection);

    wire();
    wireHints();
    HandlerGuard::run([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    Timer1->stop();
    // The session's jobs end before the window's parts they hand their steps to go.
    m_session.reset();
}

void TForm1::wire()
{
    auto click = [this](QAbstractButton *button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler] { HandlerGuard::run([this, handler] { (this->*handler)(); }); });
    };
    connect(Timer1, &QTimer::timeout, this,
            [this] { HandlerGuard::run([this] { Timer1Timer(); }); });
    click(Button1, &TForm1::Button1Click);
    click(Button2, &TForm1::Button2Click);
    click(Button3, &TForm1::Button3Click);
    click(Button4, &TForm1::Button4Click);
    click(Button5, &TForm1::Button5Click);
    click(Button6, &TForm1::Button6Click);
    click(Button7, &TForm1::Button7Click);
    click(Button8, &TForm1::Button8Click);
    click(Button9, &TForm1::Button9Click);
    click(Button10, &TForm1::Button10Click);
    click(Button11, &TForm1::Button11Click);
    click(Button12, &TForm1::Button12Click);
    click(Button13, &TForm1::Button13Click);
    click(Button14, &TForm1::Button14Click);
    click(Button15, &TForm1::Button15Click);

    connect(TrackBar1, &QSlider::valueChanged, this, &TForm1::TrackBar1Change);
    connect(TrackBar2, &QSlider::valueChanged, this, &TForm1::TrackBar2Change);
    connect(TrackBar3, &QSlider::valueChanged, this, &TForm1::TrackBar3Change);
    connect(ComboBox1, &QComboBox::currentTextChanged, this, &TForm1::ComboBox1Change);
}

void TForm1::operate(std::function<void()> job)
{
    ++m_operations;
    m_shield->raiseOver();
    m_session->call([this, job = std::move(job)](UnitLink &) {
        try {
            job();
        } catch (const std::exception &) {
            ui([] { HandlerGuard::showError(QString()); });
        }
        // A loss the job met is said once the operation is over, even before the line's own
        // notice of it comes.
        const bool lost = m_session->line().hasFailed();
        ui([this, lost] {
            m_lossPending = m_lossPending || lost;
            operationEnded();
        });
    });
}

void TForm1::ui(std::function<void()> step)
{
    QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void TForm1::operationEnded()
{
    if (--m_operations > 0)
        return;
    m_shield->lower();
    endedIdle();
}

void TForm1::endedIdle()
{
    if (busy())
        return;
    // A loss noticed while an operation ran is said once it is over.
    if (m_lossPending)
        lineLost();
    emit idle();
}

void TForm1::FormCreate()
{
    clearall();
    m_connected = false;
    Memo1->clear();
    Button15->click();
}

void TForm1::log(const QString &line)
{
    Memo1->appendPlainText(line);
    QScrollBar *bar = Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
}

int TForm1::selectedPort() const
{
    return ComboBox1->findText(ComboBox1->currentText().trimmed(), Qt::MatchFixedString);
}

void TForm1::ComboBox1Change() { Button1->setEnabled(true); }

void TForm1::lineLost()
{
    // While something runs, its own end tells whether its line was lost (see operate()): a
    // notice arriving meanwhile may be that of a line since closed and opened again.
    if (busy())
        return;
    m_lossPending = false;
    if (!m_lossLogged)
        log(QStringLiteral("Связь с устройством потеряна"));
    m_lossLogged = true;
    m_connected = false;
}

void TForm1::Button1Click()
{
    const int index = selectedPort();
    m_lossLogged = false;
    m_lossPending = false;
    operate([this, index] {
        Line &line = m_session->line();
        UnitLink &unit = m_session->link();
        line.open(index);
        bool accepted = false;
        const std::uint8_t reply = unit.handshake(&accepted);
        if (accepted) {
            m_connected = true;
            ui([this] { log(QStringLiteral("Соединение установлено")); });
            readall();
            ui([this] {
                if (Image1->pixmap().isNull()) {
                    // Scaled for the screen's pixels, so that a scaled window shows it sharp.
                    const qreal ratio = Image1->devicePixelRatioF();
                    QPixmap picture = QPixmap(QStringLiteral(":/product.jpg"))
                                          .scaled(Image1->size() * ratio, Qt::KeepAspectRatio,
                                                  Qt::SmoothTransformation);
                    picture.setDevicePixelRatio(ratio);
                    Image1->setPixmap(picture);
                }
                Image1->setVisible(true);
            });
            return;
        }
        m_connected = false;
        ui([this, reply] {
            log(QStringLiteral("Ошибка подключения"));
            log(QString::number(reply));
        });
        unit.sendDisconnect();
        const OpenFailure failure{line.lastOpenFailure(), line.lastOpenDevice(),
                                  line.lastOpenReason()};
        ui([this, failure] { logOpenFailure(failure); });
    });
}

// Why a port did not open, in the log's words.
static QString openReasonText(const Line::OpenReason &reason)
{
    using Failure = Line::OpenFailure;
    switch (reason.failure) {
    case Failure::NoDevice:
        return QStringLiteral("устройство не найдено");
    case Failure::Permission:
        return reason.accessOrBusy ? QStringLiteral("нет доступа или порт занят")
                                   : QStringLiteral("нет доступа");
    case Failure::Busy:
        return QStringLiteral("порт занят другой программой");
    case Failure::NotSerial:
        return reason.folder ? QStringLiteral("это папка, а не порт")
                             : QStringLiteral("это не последовательный порт");
    case Failure::Other:
        return QStringLiteral("порт не открывается (ошибка %1)").arg(reason.portError);
    case Failure::None:
    case Failure::NoIndex:
        break;
    }
    return {};
}

// Says why the port could not be opened, and how to fix it where the user can.
void TForm1::logOpenFailure(const OpenFailure &failure)
{
    using Failure = Line::OpenFailure;
    if (failure.failure == Failure::None)
        return;
    if (failure.failure == Failure::NoIndex) {
        log(QStringLiteral("Порт не выбран: выберите COM1 ... COM40 из списка"));
        return;
    }
    QString line =
        QStringLiteral("%1 (%2): %3")
            .arg(ComNames::name(selectedPort()), failure.device, openReasonText(failure.reason));
    if (failure.failure == Failure::Permission)
        line += QStringLiteral(". Добавьте пользователя в группу dialout "
                               "(sudo usermod -aG dialout $USER) и войдите в систему заново");
    log(line);
}

void TForm1::Button2Click()
{
    operate([this] {
        const bool acknowledged = m_session->link().disconnect();
        ui([this, acknowledged] {
            log(acknowledged ? QStringLiteral("OK") : QStringLiteral("Ошибка"));
            m_exiting = true;
            close();
        });
    });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    event->ignore();
    // A write, its read-back or an upload runs to its end; a tick only goes first.
    if (m_operations > 0)
        return;
    HandlerGuard::run([this] { Button2Click(); });
}

void TForm1::Button15Click()
{
    operate([this] {
        Line &line = m_session->line();
        line.close();
        ui([this] {
            Memo1->clear();
            log(QStringLiteral("Доступные порты"));
        });
        // "Сканировать" probes COM1 ... COM20, the ports the window has always listed as free.
        constexpr int ScannedPorts = 20;
        const QStringList ports = PortScan::freePorts(line, ScannedPorts);
        ui([this, ports] {
            for (const QString &port : ports)
                log(port);
            log(QStringLiteral("-------------"));
        });
    });
}
