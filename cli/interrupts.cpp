#include "cli/interrupts.h"

#include "cli/status.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Interrupts {

namespace {

// The handler only hands the signal on through a pipe; a thread of its own decides what it
// means, where it may take locks and write lines.
int g_pipe[2] = {-1, -1};
std::atomic<int> g_signal{0}; // the last signal that came; 0 before any

std::mutex g_mutex;            // guards what follows
int g_count = 0;               // signals so far
std::vector<Block *> g_blocks; // the ports committed to a block
int g_sending = 0;             // of them, those whose block is going out

extern "C" void onSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void watch()
{
    for (;;) {
        unsigned char number = 0;
        const ssize_t n = ::read(g_pipe[0], &number, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        const std::lock_guard lock(g_mutex);
        Block::signalled(number);
    }
}

} // namespace

void install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::signal(SIGPIPE, SIG_IGN);
        if (::pipe2(g_pipe, O_CLOEXEC) != 0)
            return; // the signals keep their own end
        std::thread(watch).detach();
        struct sigaction action {};
        action.sa_handler = onSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    });
}

bool requested() { return g_signal != 0; }

int status() { return Status::SignalBase + g_signal; }

Block::Block(const Output &out, QString held, QString waiting)
    : m_out(out), m_held(std::move(held)), m_waiting(std::move(waiting))
{
}

bool Block::begin()
{
    const std::lock_guard lock(g_mutex);
    if (g_count > 0)
        return false;
    g_blocks.push_back(this);
    ++g_sending;
    m_registered = true;
    m_sending = true;
    return true;
}

void Block::sent()
{
    const std::lock_guard lock(g_mutex);
    if (!m_sending)
        return;
    m_sending = false;
    --g_sending;
    if (g_count >= 2 && g_sending == 0)
        endNow(g_signal);
    if (g_count == 1 && !m_waiting.isEmpty())
        m_out.note(m_waiting);
}

void Block::done(const QString &last)
{
    const std::lock_guard lock(g_mutex);
    // Said under the lock, so that a second signal can neither cut it off nor say the held
    // line after it.
    if (!last.isEmpty())
        m_out.note(last);
    if (!m_registered)
        return;
    m_registered = false;
    if (m_sending) {
        m_sending = false;
        --g_sending;
    }
    g_blocks.erase(std::find(g_blocks.begin(), g_blocks.end(), this));
    if (g_count >= 2 && g_sending == 0)
        endNow(g_signal);
}

void Block::signalled(int number)
{
    g_signal = number;
    ++g_count;
    if (g_blocks.empty()) {
        // Nothing is committed: the signal's own end, as without this watch.
        std::signal(number, SIG_DFL);
        ::raise(number);
    }
    if (g_count >= 2 && g_sending == 0)
        endNow(number);
    if (g_count == 1) {
        for (const Block *block : g_blocks) {
            if (!block->m_sending && !block->m_waiting.isEmpty())
                block->m_out.note(block->m_waiting);
        }
    }
}

// Every committed port says what its unit holds, and the tool ends.
void Block::endNow(int number)
{
    for (const Block *block : g_blocks)
        block->m_out.note(block->m_held);
    std::_Exit(Status::SignalBase + number);
}

} // namespace Interrupts
