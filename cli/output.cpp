#include "cli/output.h"

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex &lock()
{
    static std::mutex mutex;
    return mutex;
}

bool g_progressShown = false; // a progress line stands unterminated on the terminal

void put(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
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

void Output::result(const QString &line) const
{
    const std::lock_guard guard(lock());
    put(stdout, m_prefix + line + QLatin1Char('\n'));
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
