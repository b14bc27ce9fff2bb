#include "cli/output.h"

#include "cli/status.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex &lock()
{
    static std::mutex mutex;
    return mutex;
}

bool g_progressShown = false; // a progress line stands unterminated on the terminal
bool g_resultsClosed = false; // standard output was closed when the tool started
int g_resultError = 0;        // why standard output failed, once it has
bool g_resultErrorSaid = false;

// False with errno set when the stream did not take it all.
bool put(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) ==
                         std::size_t(bytes.size());
    return std::fflush(stream) == 0 && written;
}

// Under the lock.
void noteResultError(int code)
{
    if (!g_resultError)
        g_resultError = code ? code : EIO;
    if (g_resultErrorSaid)
        return;
    g_resultErrorSaid = true;
    put(stderr, QStringLiteral("tarvik2-cli: cannot write standard output: %1\n")
                    .arg(qt_error_string(g_resultError)));
}

void closeProgress()
{
    if (g_progressShown) {
        put(stderr, QStringLiteral("\n"));
        g_progressShown = false;
    }
}

} // namespace

bool Output::errorIsTerminal()
{
    static const bool terminal = isatty(STDERR_FILENO) == 1;
    return terminal;
}

bool Output::result(const QString &line) const
{
    const std::lock_guard guard(lock());
    if (g_resultError)
        return false;
    if (g_resultsClosed) {
        noteResultError(EBADF);
        return false;
    }
    if (put(stdout, m_prefix + line + QLatin1Char('\n')))
        return true;
    noteResultError(errno);
    return false;
}

void Output::holdStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is the one missing.
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
        if (fd == STDOUT_FILENO)
            g_resultsClosed = true;
    }
}

bool Output::closeResults()
{
    const std::lock_guard guard(lock());
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        noteResultError(errno);
    errno = 0;
    if (std::fclose(stdout) != 0)
        noteResultError(errno);
    return g_resultError == 0;
}

void Output::note(const QString &line) const
{
    const std::lock_guard guard(lock());
    closeProgress();
    put(stderr, m_prefix + line + QLatin1Char('\n'));
}

void Output::progress(const QString &line) const
{
    const std::lock_guard guard(lock());
    if (!errorIsTerminal()) {
        put(stderr, m_prefix + line + QLatin1Char('\n'));
        return;
    }
    put(stderr, QStringLiteral("\r\x1b[K") + m_prefix + line);
    g_progressShown = true;
}

void Output::endProgress() const
{
    const std::lock_guard guard(lock());
    closeProgress();
}

int refuse(const QString &why)
{
    Output().note(QStringLiteral("tarvik2-cli: ") + why);
    return Status::BadInput;
}
