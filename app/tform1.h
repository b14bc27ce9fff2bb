#pragma once

#include "app/hints.h"
#include "device/clock.h"
#include "device/settingsblock.h"
#include "device/unitlink.h"
#include "device/unitsession.h"
#include "serial/line.h"
#include "service/measurement.h"
#include "ui_tform1.h"
#include "upload/soundupload.h"

#include <QPixmap>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class BusyShield;
class QTimer;
class TrendChart;

// The main window. Its controls come from the window description under their own names
// (Button1, Edit13, CheckBox5, ...); the handlers below are named after control and event.
//
// The exchanges with the unit run on the unit session's thread. A handler that talks to the
// unit is one operation: it reads the window's fields first, then hands its exchanges to the
// session, and what they show comes back to the window's thread in order. The window paints
// meanwhile but takes no input until the operation is over. A service tick runs on the
// session too, but keeps the window's input going: what is typed meanwhile is kept.
class TForm1 : public QWidget, public Ui::TForm1 {
    Q_OBJECT

public:
    // The serial port; clockSpeedup > 1 makes the long pauses run faster (tests only).
    explicit TForm1(QWidget *parent = nullptr, int clockSpeedup = 1);
    // Another line to the unit (one in the same process), with its clock; both outlive the
    // window.
    TForm1(Line &line, const Clock &clock, QWidget *parent = nullptr);
    ~TForm1() override;

    // Start-up, run once before the window is first shown.
    void FormCreate();

    // Setting fields.
    void clearall();
    void TrackBar1Change();
    void TrackBar2Change();
    void TrackBar3Change();
    void Button13Click();
    void Button14Click();

    // Connection and port scan.
    void Button1Click();
    void Button2Click();
    void ComboBox1Change();
    void Button15Click();

    // Settings read, write and factory reset.
    void Button5Click();
    void Button4Click();
    void Button3Click();

    // Sound upload.
    void Button6Click();
    void Button8Click();

    // Service panel.
    void Button11Click();
    void Button10Click();
    void Button7Click();
    void Button9Click();
    void Timer1Timer();
    void Button12Click();
    // Shows one measurement and, for a tick, charts POWER or LIGHT as ComboBox2 says.
    void showMeasurement(const Measurement::Values &values, bool chart);

    // Hint line: one mouse-move handler per hinted control.
#define TARVIK2_DECLARE_HINT_HANDLER(control) void control##MouseMove();
    TARVIK2_HINTED_CONTROLS(TARVIK2_DECLARE_HINT_HANDLER)
#undef TARVIK2_DECLARE_HINT_HANDLER

    QTimer *Timer1;

    bool connected() const { return m_connected; }
    int selectedPort() const; // the port list entry the text names, or -1
    // Only while the window is idle.
    Line &channel() { return m_session->line(); }
    UnitLink &unit() { return m_session->link(); }
    TrendChart &trend() { return *m_trend; }
    // True from a handler's start to the end of its operation, and while a tick runs.
    bool busy() const { return m_operations > 0 || m_ticking; }

signals:
    // An operation or a tick has ended, and nothing else runs.
    void idle();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // A close from the window system (its close button, Alt+F4, a taskbar, the end of the
    // desktop session) takes the exit button's way, and never cuts a running operation.
    void closeEvent(QCloseEvent *event) override;

private:
    TForm1(std::unique_ptr<UnitSession> session, QWidget *parent);
    void setUp();
    // Hands `job` to the unit session as one operation (see above).
    void operate(std::function<void()> job);
    // From a job: runs `step` on the window's thread, after the steps handed over before it.
    void ui(std::function<void()> step);
    void operationEnded();
    void endedIdle();
    // Reads the settings into the fields, from a job: the exchange on the session's thread, the
    // lines and fields on the window's. With `written`, the read-back of a write: a block that
    // differs from it is said so.
    void readall(const std::optional<SettingsBlock::Block> &written = std::nullopt);
    void wire();
    void wireHints();
    void log(const QString &line);
    void showSettings(const SettingsBlock::Values &values);
    SettingsBlock::Values windowSettings() const;
    struct OpenFailure {
        Line::OpenFailure failure;
        QString device;
        Line::OpenReason reason;
    };
    void logOpenFailure(const OpenFailure &failure);
    void upload(SoundUpload::Set set);
    // The line was lost: said once in the log, and the unit no longer counts as connected.
    void lineLost();

    std::unique_ptr<UnitSession> m_session;
    // Written on either thread, but never while the other uses it: a job sees what the window
    // set before the job began, and the window a job's change once the job has handed it on.
    std::atomic<bool> m_connected = false;
    bool m_lossLogged = false;
    bool m_lossPending = false; // an operation or tick met a lost line: said once it is over
    int m_operations = 0;       // handed to the session and not yet over
    bool m_ticking = false;
    bool m_exiting = false; // the exit button has said goodbye to the unit
    BusyShield *m_shield;
    std::unique_ptr<TrendChart> m_trend;
    QHash<QObject *, void (TForm1::*)()> m_hintHandlers;
};
