#pragma once

#include "app/tform1.h"

#include <QStringList>

// The activity log of the window, a line an entry.
inline QStringList logLines(const TForm1 &form)
{
    return form.Memo1->toPlainText().split(QLatin1Char('\n'));
}
