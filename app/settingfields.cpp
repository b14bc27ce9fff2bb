// The setting fields: their no-data state, the echo boxes of the two visible track bars, the
// "+" and "-" of the supervision frequency, and the mapping between fields and block values.

#include "app/apperror.h"
#include "app/tform1.h"

namespace {
const QString NoData = QStringLiteral("НЕТ ДАННЫХ");
}

void TForm1::clearall()
{
    for (QLineEdit *edit :
         {Edit4, Edit5, Edit6, Edit7, Edit8, Edit9, Edit10, Edit11, Edit12, Edit13, Edit20})
        edit->setText(NoData);
    // A bar clamps to its range and reports only a real change.
    TrackBar1->setValue(1);
    TrackBar2->setValue(1);
    TrackBar3->setValue(1);
    for (QCheckBox *box : {CheckBox5, CheckBox6, CheckBox7, CheckBox8, CheckBox9, CheckBox10,
                           CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox11, CheckBox12})
        box->setChecked(false);
}

void TForm1::TrackBar1Change() { Edit3->setText(Hints::blinkRate(TrackBar1->value())); }

void TForm1::TrackBar2Change() { Edit21->setText(QString::number(TrackBar2->value())); }

void TForm1::TrackBar3Change() { Edit22->setText(QString::number(TrackBar3->value())); }

void TForm1::Button13Click() { TrackBar2->setValue(TrackBar2->value() + 1); }

void TForm1::Button14Click() { TrackBar2->setValue(TrackBar2->value() - 1); }

void TForm1::showSettings(const SettingsBlock::Values &v)
{
    Edit1->setText(QString::number(v.version));
    Edit2->setText(QString::number(v.launchCount));
    if (const auto type = SettingsBlock::deviceTypeText(v.deviceType))
        Edit4->setText(*type);
    Edit5->setText(QString::number(v.address));
    Edit6->setText(QString::number(v.zone));
    Edit7->setText(QString::number(v.boardDrift));
    Edit8->setText(QString::number(v.lineDrift));
    Edit9->setText(QString::number(v.signalDeparture));
    Edit10->setText(QString::number(v.openLevel));
    Edit11->setText(QString::number(v.inputShortLevel));
    Edit12->setText(QString::number(v.triggerLevel));
    Edit13->setText(QString::number(v.boardDeparture));
    Edit20->setText(QString::number(v.lineShortLevel));
    QCheckBox *const relay[] = {CheckBox5, CheckBox6, CheckBox7, CheckBox8, CheckBox9, CheckBox10};
    for (int i = 0; i < 6; ++i)
        relay[i]->setChecked(v.relay[i]);
    QCheckBox *const supervise[] = {CheckBox1, CheckBox2, CheckBox3, CheckBox4};
    for (int i = 0; i < 4; ++i)
        supervise[i]->setChecked(v.supervise[i]);
    CheckBox11->setChecked(v.litOnDuty);
    CheckBox12->setChecked(v.blinkOnFire);
    TrackBar1->setValue(v.blinkRate);
    TrackBar2->setValue(v.supervisionFrequency);
    TrackBar3->setValue(v.volume);
}

// The window's values, each text converted in the order the unit's block has always been
// filled in, so the first bad field is the one reported.
SettingsBlock::Values TForm1::windowSettings() const
{
    SettingsBlock::Values v;
    v.version = toInteger(Edit1->text());
    v.address = toInteger(Edit5->text());
    v.zone = toInteger(Edit6->text());
    v.boardDrift = toInteger(Edit7->text());
    v.lineDrift = toInteger(Edit8->text());
    v.signalDeparture = toInteger(Edit9->text());
    v.openLevel = toInteger(Edit10->text());
    v.inputShortLevel = toInteger(Edit11->text());
    v.triggerLevel = toInteger(Edit12->text());
    v.lineShortLevel = toInteger(Edit20->text());
    const QCheckBox *relay[] = {CheckBox5, CheckBox6, CheckBox7, CheckBox8, CheckBox9, CheckBox10};
    for (int i = 0; i < 6; ++i)
        v.relay[i] = relay[i]->isChecked();
    const QCheckBox *supervise[] = {CheckBox1, CheckBox2, CheckBox3, CheckBox4};
    for (int i = 0; i < 4; ++i)
        v.supervise[i] = supervise[i]->isChecked();
    v.litOnDuty = CheckBox11->isChecked();
    v.blinkOnFire = CheckBox12->isChecked();
    v.blinkRate = TrackBar1->value();
    v.supervisionFrequency = TrackBar2->value();
    v.volume = TrackBar3->value();
    v.boardDeparture = toInteger(Edit13->text());
    return v;
}
