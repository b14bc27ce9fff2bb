// The hidden service panel: six live measurements and the trend of POWER or LIGHT.

#include "app/tform1.h"
#include "app/trendchart.h"
#include "service/measurement.h"

#include <QTimer>

namespace {
const QColor PointColour(0, 128, 0);
constexpr float Scale = 0.1f;
constexpr int PowerItem = 0;
constexpr int LightItem = 1;
} // namespace

void TForm1::Button11Click()
{
    Edit2->setVisible(true);
    Label3->setVisible(true);
    Panel7->setVisible(true);
    Panel7->move(0, 0);
}

void TForm1::Button10Click() { Panel7->setVisible(false); }

void TForm1::Button9Click()
{
    if (Timer1->isActive())
        Timer1->stop();
    else
        Timer1->start();
}

void TForm1::Button12Click() { m_trend->clear(); }

void TForm1::Button7Click()
{
    operate([this] {
        if (const auto values = Measurement::exchange(m_session->link()))
            ui([this, values = *values] { showMeasurement(values, false); });
    });
}

void TForm1::Timer1Timer()
{
    // A tick waits for no operation and is never queued behind one: it is simply left out.
    if (busy())
        return;
    m_ticking = true;
    m_session->call([this](UnitLink &unit) {
        // A short or missing reply changes nothing: stale bytes never pass for a measurement.
        const auto values = Measurement::exchange(unit);
        const bool lost = unit.line().hasFailed();
        ui([this, values, lost] {
            if (values)
                showMeasurement(*values, true);
            m_lossPending = m_lossPending || lost;
            m_ticking = false;
            endedIdle();
        });
    });
}

void TForm1::showMeasurement(const Measurement::Values &values, bool chart)
{
    QLineEdit *const boxes[] = {Edit14, Edit15, Edit16, Edit17, Edit18};
    for (int k = 0; k < 5; ++k)
        boxes[k]->setText(QString::number(values[k]));
    if (chart && ComboBox2->currentIndex() == LightItem)
        m_trend->append(float(values[Measurement::Light]) * Scale, PointColour);
    Edit19->setText(QString::number(values[Measurement::Power]));
    if (chart && ComboBox2->currentIndex() == PowerItem)
        m_trend->append(float(values[Measurement::Power]) * Scale, PointColour);
}
