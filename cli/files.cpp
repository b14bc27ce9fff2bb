#include "cli/files.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Files {

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

namespace {

bool fail(QString *error, int code)
{
    *error = qt_error_string(code);
    return false;
}

bool fail(QString *error) { return fail(error, errno); }

// The file a save replaces: the one a link names, else the name itself.
QString saveTarget(const QString &name)
{
    const QFileInfo info(name);
    return info.isSymLink() && info.exists() ? info.canonicalFilePath() : name;
}

} // namespace

std::optional<QByteArray> readSmall(const QString &name, QString *error)
{
    const int fd =
        ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        fail(error);
        return std::nullopt;
    }
    const auto closer = qScopeGuard([fd] { ::close(fd); });
    // The type is taken from the descriptor, so the file cannot be swapped after the check.
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        fail(error);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    // One byte more than allowed is asked for, so that a file growing meanwhile is caught too.
    QByteArray data(info.st_size <= SmallFileMax ? SmallFileMax + 1 : 0, Qt::Uninitialized);
    qint64 got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, std::size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            fail(error);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += n;
    }
    if (info.st_size > SmallFileMax || got > SmallFileMax) {
        *error = QStringLiteral("larger than 1 MiB, which no settings file is");
        return std::nullopt;
    }
    data.truncate(got);
    return data;
}

namespace {

// stat() of what a save would replace; false (with the reason) when that may not be
// replaced. `exists` tells whether there is anything.
bool statReplaceable(const QString &name, struct stat *info, bool *exists, QString *error)
{
    *exists = ::stat(QFile::encodeName(name).constData(), info) == 0;
    if (!*exists)
        return errno == ENOENT || fail(error);
    if (S_ISREG(info->st_mode))
        return true;
    *error = QStringLiteral("not a regular file");
    return false;
}

} // namespace

bool mayReplace(const QString &name, QString *error)
{
    struct stat info {};
    bool exists = false;
    return statReplaceable(name, &info, &exists, error);
}

namespace {

bool save(const QString &name, const QByteArray &contents, bool replace, QString *error)
{
    const QString target = saveTarget(name);
    struct stat old {};
    bool replacing = false;
    if (!statReplaceable(target, &old, &replacing, error))
        return false;
    if (replacing && !replace)
        return fail(error, EEXIST);
    const QFileInfo info(target);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());

    // The new file is hidden beside the old one, on the same filesystem, so that the rename
    // replaces it in one step.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = folder + "/." + QFile::encodeName(info.fileName()) + '.' +
                    QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd =
            ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(error);
    }
    if (fd < 0)
        return fail(error);

    bool ok = (!replacing || ::fchmod(fd, old.st_mode & 07777) == 0) &&
              writeAll(fd, contents.constData(), contents.size()) && ::fsync(fd) == 0;
    int code = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    // link() puts the file in place only where nothing is; rename() replaces what is there.
    if (ok && (replace ? ::rename(temporary.constData(), path.constData())
                       : ::link(temporary.constData(), path.constData())) != 0) {
        ok = false;
        code = errno;
    }
    if (ok && !replace)
        ::unlink(temporary.constData());
    if (!ok) {
        ::unlink(temporary.constData());
        return fail(error, code);
    }
    // The rename itself reaches the disk only with its folder. A filesystem that cannot flush
    // a folder says EINVAL; there is nothing more to do on it.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return fail(error);
    ok = ::fsync(dir) == 0 || errno == EINVAL;
    code = errno;
    ::close(dir);
    return ok || fail(error, code);
}

} // namespace

bool saveWhole(const QString &name, const QByteArray &contents, QString *error)
{
    return save(name, contents, true, error);
}

bool saveNew(const QString &name, const QByteArray &contents, QString *error)
{
    return save(name, contents, false, error);
}

Log::~Log()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Log::open(const QString &name, QString *error)
{
    // O_NONBLOCK for the open alone: a FIFO with no reader fails at once (ENXIO).
    m_fd = ::open(QFile::encodeName(name).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return fail(error);
    struct stat info {};
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (::fstat(m_fd, &info) != 0 || flags < 0 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(error);
    m_regular = S_ISREG(info.st_mode);
    m_whole = 0;
    return true;
}

bool Log::append(const QByteArray &row, QString *error)
{
    if (writeAll(m_fd, row.constData(), row.size())) {
        m_whole += row.size();
        return true;
    }
    const int code = errno;
    if (m_regular)
        (void)::ftruncate(m_fd, m_whole);
    return fail(error, code);
}

bool Log::close(QString *error)
{
    if (m_fd < 0)
        return true;
    const int fd = std::exchange(m_fd, -1);
    const bool synced = !m_regular || ::fsync(fd) == 0;
    const int code = errno;
    if (::close(fd) != 0)
        return fail(error);
    return synced || fail(error, code);
}

} // namespace Files
