#pragma once

#include <QList>
#include <QString>
#include <optional>

// A port as the user named it: "COM1".."COM40" (resolved through the COM folder and the
// fixed table when opened) or a device path.
struct Port {
    QString name;   // as given
    int index = -1; // 0..39 for a COM name
    QString path;   // a device path given directly

    // The name made fit for a file name, for "{port}" in an output file name.
    QString fileTag() const;
};

// The list index 0..39 of "COM1".."COM40" (any case); none for anything else.
std::optional<int> comIndex(const QString &name);

// "COM5,COM6,/dev/ttyUSB3": nothing when a part is no COM name or path, or is named twice.
std::optional<QList<Port>> parsePorts(const QString &text, QString *error);

// Output file names with several ports need "{port}"; replaces it with the port's tag.
QString portFileName(const QString &pattern, const Port &port);
