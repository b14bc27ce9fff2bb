#pragma once

#include <QString>

// A site's report, for an inspector to file: a summary table with one row per unit (keyed by
// its network address), a page per unit with its confirmed settings and their deviations from
// the site's template, and the site's history. The journal's chain is checked first, and a
// broken one is said on the first page.
namespace Report {

// Writes the report of the site in dir to file, as PDF (A4), HTML or CSV by the file's
// extension. PDF needs a running QGuiApplication (the offscreen platform will do).
bool write(const QString &dir, const QString &file, QString *error);

// Whether the file's extension names a format the report is written in.
bool knownFormat(const QString &file);

} // namespace Report
