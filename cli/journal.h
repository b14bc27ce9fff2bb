#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// A site's commissioning journal, DIR/journal.jsonl: one JSON record a line, never rewritten.
// Each record carries its number (`seq`, from 1), the record format's `version`, and the
// SHA-256 of the line before it (`prev`; 64 zeros for the first), so that a record changed,
// inserted or removed breaks the chain where it was. DIR/journal.head keeps the count and the
// last line's SHA-256, so that records cut off the end are found too.
//
// Several tool runs may append at once (parallel ports, parallel shells): a record is written
// whole, in one write, under an exclusive lock on the journal, and flushed to the disk before
// the lock is let go.
namespace Journal {

constexpr int Version = 1;

// Appends `record` with seq, prev and version set. False, with the reason, when the record
// could not be stored; the journal is then as it was.
bool append(const QString &dir, QJsonObject record, QString *error);

struct Problem {
    qint64 line = 0; // 1-based line of the journal the problem is seen at
    QString what;
};

// Where the journal is not as it was written, in order; empty when the chain holds. False in
// `readable` when the journal could not be read at all (the reason in error).
QList<Problem> verify(const QString &dir, bool *readable, QString *error);

// The records that parse, in order, for reports.
QList<QJsonObject> records(const QString &dir, QString *error);

} // namespace Journal
