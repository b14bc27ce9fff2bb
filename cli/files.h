#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

// The files the tool reads and writes for the user. Every call checks every step and, when one
// fails, gives the reason in the system's words; the caller says which file it was.
namespace Files {

// A settings file is about 2 KB; anything much larger is no settings file.
constexpr qint64 SmallFileMax = qint64(1) << 20;

// The whole of a regular file of at most SmallFileMax bytes. Opened so that it cannot hang:
// a FIFO, a device or a folder is refused without being read.
std::optional<QByteArray> readSmall(const QString &name, QString *error);

// Whether a save to `name` may replace what is there: nothing yet, or a regular file (a link
// is followed). A device or a FIFO is never replaced.
bool mayReplace(const QString &name, QString *error);

// Writes `contents` to `name` whole or not at all: a new file beside it, every write checked
// and the file flushed to the disk, then renamed over the old one and the folder flushed.
// On any failure the new file is removed and the old one is left as it was. A link is
// followed, and the file it names is the one replaced; its permissions are kept.
bool saveWhole(const QString &name, const QByteArray &contents, QString *error);
// The same for a file that must not be there yet: fails with "File exists" rather than replace
// anything, even when another run makes the same name at the same moment.
bool saveNew(const QString &name, const QByteArray &contents, QString *error);

// Writes all of `size` bytes to a descriptor, whatever the system takes at a time. False with
// errno set.
bool writeAll(int fd, const char *data, qint64 size);

// A log written row by row, as the rows come: every row goes to the system at once, so that
// an interrupted log is whole up to its last row. A regular file is created or emptied;
// a FIFO without a reader is refused rather than waited on.
class Log {
public:
    Log() = default;
    ~Log();
    Log(const Log &) = delete;
    Log &operator=(const Log &) = delete;

    bool open(const QString &name, QString *error);
    // False at the first row the system did not take whole; in a regular file the part of it
    // that was taken is cut off again, so the file ends with the last whole row.
    bool append(const QByteArray &row, QString *error);
    // Flushes a regular file to the disk and closes; false when either failed.
    bool close(QString *error);

private:
    int m_fd = -1;
    bool m_regular = false;
    qint64 m_whole = 0; // bytes of whole rows
};

} // namespace Files
