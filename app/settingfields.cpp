// The setting fields: their no-data state, the echo boxes of the two visible track bars, the
// "+" and "-" of the supervision frequency, and the mapping between fields and block values.

#include "app/apperror.h"
#include "app/tform1.h"

#include <vector>

namespace {

const QString NoData = QStringLiteral("НЕТ ДАННЫХ");
using Values = SettingsBlock::Values;

// One control bound to one value of the block: a text box or a track bar to a number, a
// check box to a flag.
struct FieldRow {
    QWidget *control;
    std::int32_t *(*number)(Values &);
    bool *(*flag)(Values &);
    // The version box keeps its text when the fields go to no data.
    bool keptWithoutData;
};

FieldRow number(QWidget *control, std::int32_t *(*value)(Values &), bool kept = false)
{
    return {control, value, nullptr, kept};
}

FieldRow flag(QCheckBox *control, bool *(*value)(Values &))
{
    return {control, nullptr, value, false};
}

} // namespace

// The one table of the written fields, in the order a write converts their texts, so the
// first bad field is the one reported: the order the unit's block has always been filled in.
static std::vector<FieldRow> fieldRows(const TForm1 &f)
{
    return {
        number(
            f.Edit1, [](Values &v) { return &v.version; }, true),
        number(f.Edit5, [](Values &v) { return &v.address; }),
        number(f.Edit6, [](Values &v) { return &v.zone; }),
        number(f.Edit7, [](Values &v) { return &v.boardDrift; }),
        number(f.Edit8, [](Values &v) { return &v.lineDrift; }),
        number(f.Edit9, [](Values &v) { return &v.signalDeparture; }),
        number(f.Edit10, [](Values &v) { return &v.openLevel; }),
        number(f.Edit11, [](Values &v) { return &v.inputShortLevel; }),
        number(f.Edit12, [](Values &v) { return &v.triggerLevel; }),
        number(f.Edit20, [](Values &v) { return &v.lineShortLevel; }),
        flag(f.CheckBox5, [](Values &v) { return &v.relay[0]; }),
        flag(f.CheckBox6, [](Values &v) { return &v.relay[1]; }),
        flag(f.CheckBox7, [](Values &v) { return &v.relay[2]; }),
        flag(f.CheckBox8, [](Values &v) { return &v.relay[3]; }),
        flag(f.CheckBox9, [](Values &v) { return &v.relay[4]; }),
        flag(f.CheckBox10, [](Values &v) { return &v.relay[5]; }),
        flag(f.CheckBox1, [](Values &v) { return &v.supervise[0]; }),
        flag(f.CheckBox2, [](Values &v) { return &v.supervise[1]; }),
        flag(f.CheckBox3, [](Values &v) { return &v.supervise[2]; }),
        flag(f.CheckBox4, [](Values &v) { return &v.supervise[3]; }),
        flag(f.CheckBox11, [](Values &v) { return &v.litOnDuty; }),
        flag(f.CheckBox12, [](Values &v) { return &v.blinkOnFire; }),
        number(f.TrackBar1, [](Values &v) { return &v.blinkRate; }),
        number(f.TrackBar2, [](Values &v) { return &v.supervisionFrequency; }),
        number(f.TrackBar3, [](Values &v) { return &v.volume; }),
        number(f.Edit13, [](Values &v) { return &v.boardDeparture; }),
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

void TForm1::showSettings(const SettingsBlock::Values &shown)
{
    Values v = shown;
    Edit2->setText(QString::number(v.launchCount));
    if (const auto type = SettingsBlock::deviceTypeText(v.deviceType))
        Edit4->setText(*type);
    for (const FieldRow &row : fieldRows(*this)) {
        if (auto *edit = qobject_cast<QLineEdit *>(row.control))
            edit->setText(QString::number(*row.number(v)));
        else if (auto *bar = qobject_cast<QSlider *>(row.control))
            bar->setValue(*row.number(v));
        else if (auto *box = qobject_cast<QCheckBox *>(row.control))
            box->setChecked(*row.flag(v));
    }
}

SettingsBlock::Values TForm1::windowSettings() const
{
    Values v;
    for (const FieldRow &row : fieldRows(*this)) {
        if (auto *edit = qobject_cast<QLineEdit *>(row.control))
            *row.number(v) = toInteger(edit->text());
        else if (auto *bar = qobject_cast<QSlider *>(row.control))
            *row.number(v) = bar->value();
        else if (auto *box = qobject_cast<QCheckBox *>(row.control))
            *row.flag(v) = box->isChecked();
    }
    return v;
}
