#pragma once

#include "app/tform1.h"

#include <QStringList>

// What the window shows: its activity log and its measurements.

// The activity log of the window, a line an entry.
inline QStringList logLines(const TForm1 &form)
{
    return form.Memo1->toPlainText().split(QLatin1Char('\n'));
}

// The six measurement boxes of the service panel, PPK1 to POWER.
inline QStringList measuredTexts(const TForm1 &form)
{
    QStringList texts;
    for (const QLineEdit *box :
         {form.Edit14, form.Edit15, form.Edit16, form.Edit17, form.Edit18, form.Edit19})
        texts << box->text();
    return texts;
}
