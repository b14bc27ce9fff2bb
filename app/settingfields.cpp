// The setting fields: their no-data state, the echo boxes of the two visible track bars, the
// "+" and "-" of the supervision frequency, and the mapping between fields and block values.

#include "app/apperror.h"
#include "app/tform1.h"

#include <vector>

namespace {

const QString NoData = QStringLiteral("НЕТ ДАННЫХ");
using SettingsBlock::Values;
using Id = SettingsLayout::FieldId;

// One control bound to one field of the block: a text box or a track bar to a number, a check
// box to a flag.
struct FieldRow {
    QWidget *control;
    Id field;
    // The version box keeps its text when the fields go to no data.
    bool keptWithoutData = false;
};

// The window's name for the device type byte, or nothing for a code it does not name.
std::optional<QString> deviceTypeText(int code)
{
    const std::optional<SettingsBlock::DeviceType> type = SettingsBlock::deviceType(code);
    if (!type)
        return std::nullopt;
    switch (*type) {
    case SettingsBlock::DeviceType::Announcer:
        return QStringLiteral("ТАРВИК2");
    case SettingsBlock::DeviceType::Console:
        return QStringLiteral("ПУЛЬТ");
    case SettingsBlock::DeviceType::InputModule:
        return QStringLiteral("Модуль входов");
    }
    return std::nullopt;
}

} // namespace

// The one table of the written fields, in the order a write converts their texts, so the
// first bad field is the one reported: the order the unit's block has always been filled in.
static std::vector<FieldRow> fieldRows(const TForm1 &f)
{
    return {
        {f.Edit1, Id::SoftwareVersion, true},
        {f.Edit5, Id::NetworkAddress},
        {f.Edit6, Id::AlertZone},
        {f.Edit7, Id::BoardCurrentDrift},
        {f.Edit8, Id::AlertLineDrift},
        {f.Edit9, Id::SignalDepartureTime},
        {f.Edit10, Id::OpenLineLevel},
        {f.Edit11, Id::InputShortCircuitLevel},
        {f.Edit12, Id::TriggerLevel},
        {f.Edit20, Id::LineShortCircuitLevel},
        {f.CheckBox5, Id::RelayOnPpk1},
        {f.CheckBox6, Id::RelayOnPpk2},
        {f.CheckBox7, Id::RelayOnGochs},
        {f.CheckBox8, Id::RelayOnLineInput},
        {f.CheckBox9, Id::RelayOnConsole},
        {f.CheckBox10, Id::RelayOnSiren},
        {f.CheckBox1, Id::SupervisePpk1},
        {f.CheckBox2, Id::SupervisePpk2},
        {f.CheckBox3, Id::SuperviseGochs},
        {f.CheckBox4, Id::SuperviseConsoleLink},
        {f.CheckBox11, Id::BoardLitOnDuty},
        {f.CheckBox12, Id::BoardBlinksOnFire},
        {f.TrackBar1, Id::BoardBlinkRate},
        {f.TrackBar2, Id::SupervisionFrequency},
        {f.TrackBar3, Id::MessageVolume},
        {f.Edit13, Id::BoardCurrentDepartureTime},
    };
}

void TForm1::clearall()
{
    Edit4->setText(NoData);
    for (const FieldRow &row : fieldRows(*this)) {
        if (auto *edit = qobject_cast<QLineEdit *>(row.control)) {
            if (!row.keptWithoutData)
                edit->setText(NoData);
        } else if (auto *bar = qobject_cast<QSlider *>(row.control)) {
            bar->setValue(1); // a bar clamps to its range and reports only a real change
        } else if (auto *box = qobject_cast<QCheckBox *>(row.control)) {
            box->setChecked(false);
        }
    }
}

void TForm1::TrackBar1Change() { Edit3->setText(Hints::blinkRate(TrackBar1->value())); }

void TForm1::TrackBar2Change() { Edit21->setText(QString::number(TrackBar2->value())); }

void TForm1::TrackBar3Change() { Edit22->setText(QString::number(TrackBar3->value())); }

void TForm1::Button13Click() { TrackBar2->setValue(TrackBar2->value() + 1); }

void TForm1::Button14Click() { TrackBar2->setValue(TrackBar2->value() - 1); }

void TForm1::showSettings(const SettingsBlock::Values &v)
{
    Edit2->setText(QString::number(v[Id::LaunchCount]));
    if (const auto type = deviceTypeText(v[Id::DeviceType]))
        Edit4->setText(*type);
    for (const FieldRow &row : fieldRows(*this)) {
        if (auto *edit = qobject_cast<QLineEdit *>(row.control))
            edit->setText(QString::number(v[row.field]));
        else if (auto *bar = qobject_cast<QSlider *>(row.control))
            bar->setValue(v[row.field]);
        else if (auto *box = qobject_cast<QCheckBox *>(row.control))
            box->setChecked(v[row.field] != 0);
    }
}

SettingsBlock::Values TForm1::windowSettings() const
{
    Values v;
    for (const FieldRow &row : fieldRows(*this)) {
        if (auto *edit = qobject_cast<QLineEdit *>(row.control))
            v[row.field] = toInteger(edit->text());
        else if (auto *bar = qobject_cast<QSlider *>(row.control))
            v[row.field] = bar->value();
        else if (auto *box = qobject_cast<QCheckBox *>(row.control))
            v[row.field] = box->isChecked() ? 1 : 0;
    }
    return v;
}
