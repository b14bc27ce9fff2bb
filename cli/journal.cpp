#include "cli/journal.h"

#include "cli/files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Journal {

namespace {

const QByteArray Genesis(64, '0');

QString journalFile(const QString &dir) { return dir + QStringLiteral("/journal.jsonl"); }
QString headFile(const QString &dir) { return dir + QStringLiteral("/journal.head"); }

QByteArray sha256(const QByteArray &line)
{
    return QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex();
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The journal's lines, without their line ends. A last line without its end is a record
// whose write did not finish: it is kept, so that verify names it.
QList<QByteArray> linesOf(const QByteArray &content)
{
    QList<QByteArray> lines = content.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

struct Head {
    qint64 records = 0;
    QByteArray last = Genesis;
};

std::optional<Head> readHead(const QString &dir, QString *error)
{
    if (!QFile::exists(headFile(dir)))
        return Head{};
    const std::optional<QByteArray> text = Files::readSmall(headFile(dir), error);
    if (!text)
        return std::nullopt;
    const QJsonObject head = QJsonDocument::fromJson(*text).object();
    return Head{head.value(QStringLiteral("records")).toInteger(),
                head.value(QStringLiteral("sha256")).toString().toLatin1()};
}

// The whole journal through an open descriptor, from its start.
std::optional<QByteArray> readAll(int fd, QString *error)
{
    QByteArray content;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = systemError();
            return std::nullopt;
        }
        if (n == 0)
            return content;
        content.append(buffer, n);
        at += n;
    }
}

} // namespace

bool append(const QString &dir, QJsonObject record, QString *error)
{
    const QByteArray path = QFile::encodeName(journalFile(dir));
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    // Held until the descriptor closes, whatever path the function leaves by.
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = systemError();
            return false;
        }
    }
    const std::optional<QByteArray> content = readAll(fd, error);
    if (!content)
        return false;
    if (!content->isEmpty() && !content->endsWith('\n')) {
        *error = QStringLiteral("its last record is cut short; 'tarvik2-cli site verify' names it");
        return false;
    }
    const QList<QByteArray> lines = linesOf(*content);
    qint64 seq = 1;
    QByteArray prev = Genesis;
    if (!lines.isEmpty()) {
        seq = QJsonDocument::fromJson(lines.last())
                  .object()
                  .value(QStringLiteral("seq"))
                  .toInteger() +
              1;
        prev = sha256(lines.last());
    }
    record.insert(QStringLiteral("version"), Version);
    record.insert(QStringLiteral("seq"), seq);
    record.insert(QStringLiteral("prev"), QString::fromLatin1(prev));
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    const off_t before = ::lseek(fd, 0, SEEK_END);
    const QByteArray whole = line + '\n';
    if (!Files::writeAll(fd, whole.constData(), whole.size()) || ::fsync(fd) != 0) {
        *error = systemError();
        // A part-written record is cut off again, so the journal ends with its last whole one.
        if (before >= 0)
            (void)::ftruncate(fd, before);
        return false;
    }
    const QJsonObject head{{QStringLiteral("records"), seq},
                           {QStringLiteral("sha256"), QString::fromLatin1(sha256(line))}};
    return Files::saveWhole(headFile(dir), QJsonDocument(head).toJson(QJsonDocument::Compact),
                            error);
}

QList<Problem> verify(const QString &dir, bool *readable, QString *error)
{
    *readable = false;
    // A site with no record yet has no journal: an empty one, whose head (none) agrees.
    QFile file(journalFile(dir));
    if (file.exists() && !file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    const QList<QByteArray> lines = file.isOpen() ? linesOf(file.readAll()) : QList<QByteArray>();
    const std::optional<Head> head = readHead(dir, error);
    if (!head)
        return {};
    *readable = true;

    QList<Problem> problems;
    qint64 lastSeq = 0;
    QByteArray lastHash = Genesis;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qint64 line = i + 1;
        QJsonParseError parse{};
        const QJsonObject record = QJsonDocument::fromJson(lines[i], &parse).object();
        if (parse.error != QJsonParseError::NoError) {
            problems << Problem{line, QStringLiteral("line %1 is no whole record").arg(line)};
            lastHash = sha256(lines[i]);
            ++lastSeq;
            continue;
        }
        const qint64 seq = record.value(QStringLiteral("seq")).toInteger();
        const QByteArray prev = record.value(QStringLiteral("prev")).toString().toLatin1();
        if (seq <= lastSeq) {
            // Its number was taken already: it was put in after the fact. The chain goes on
            // from the record before it.
            problems << Problem{line, QStringLiteral("line %1 was inserted").arg(line)};
            continue;
        }
        if (seq > lastSeq + 1) {
            problems << Problem{line,
                                seq == lastSeq + 2
                                    ? QStringLiteral("record %1 was removed before line %2")
                                          .arg(lastSeq + 1)
                                          .arg(line)
                                    : QStringLiteral("records %1-%2 were removed before line %3")
                                          .arg(lastSeq + 1)
                                          .arg(seq - 1)
                                          .arg(line)};
        } else if (prev != lastHash) {
            problems << Problem{line - 1, QStringLiteral("line %1 was changed").arg(line - 1)};
        }
        lastSeq = seq;
        lastHash = sha256(lines[i]);
    }
    const qint64 count = lines.size();
    if (head->records > lastSeq) {
        problems << Problem{
            count + 1, head->records == lastSeq + 1
                           ? QStringLiteral("record %1, the last, was removed").arg(head->records)
                           : QStringLiteral("records %1-%2, the last, were removed")
                                 .arg(lastSeq + 1)
                                 .arg(head->records)};
    } else if (head->records == lastSeq && head->last != lastHash && count > 0) {
        problems << Problem{count, QStringLiteral("line %1 was changed").arg(count)};
    }
    return problems;
}

QList<QJsonObject> records(const QString &dir, QString *error)
{
    QFile file(journalFile(dir));
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<QJsonObject> result;
    for (const QByteArray &line : linesOf(file.readAll())) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            result << document.object();
    }
    return result;
}

} // namespace Journal
