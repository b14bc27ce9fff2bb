#pragma once

#include "app/hints.h"
#include "device/clock.h"
#include "device/settingsblock.h"
#include "device/unitlink.h"
#include "serial/serialchannel.h"
#include "service/measurement.h"
#include "ui_tform1.h"
#include "upload/soundupload.h"

#include <QPixmap>
#include <QWidget>
#include <memory>

class QLineSeries;
class QTimer;
class TrendChart;

// The main window. Its controls come from the window description under their own names
// (Button1, Edit13, CheckBox5, ...); the handlers below are named after control and event.
// Everything runs on the one UI thread, and each handler runs its exchange with the unit to
// its end before the window takes the next input.
class TForm1 : public QWidget, public Ui::TForm1 {
    Q_OBJECT

public:
    // clockSpeedup > 1 makes the long pauses run faster (tests only).
    explicit TForm1(QWidget *parent = nullptr, int clockSpeedup = 1);
    ~TForm1() override;

    // Start-up, run once before the window is first shown.
    void FormCreate();

    // Setting fields.
    void clearall();
    // With `written`, the read-back of a write: a block that differs from it is said so.
    void readall(const SettingsBlock::Block *written = nullptr);
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
    QLineSeries *Series1;

    bool connected() const { return m_connected; }
    int selectedPort() const; // the port list entry the text names, or -1
    SerialChannel &channel() { return m_channel; }
    UnitLink &unit() { return m_unit; }
    TrendChart &trend() { return *m_trend; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void wire();
    void wireHints();
    void log(const QString &line);
    void showSettings(const SettingsBlock::Values &values);
    SettingsBlock::Values windowSettings() const;
    void logOpenFailure();
    void upload(SoundUpload::Set set);
    // The line was lost: said once in the log, and the unit no longer counts as connected.
    void lineLost();

    SerialChannel m_channel;
    UnitLink m_unit{m_channel};
    SteadyClock m_clock;
    bool m_connected = false;
    bool m_lossLogged = false;
    std::unique_ptr<TrendChart> m_trend;
    QHash<QObject *, void (TForm1::*)()> m_hintHandlers;
};
