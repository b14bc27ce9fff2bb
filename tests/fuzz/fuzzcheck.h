#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>

// A property of the code under test that does not hold: say which and where, then abort so
// libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "\n*** property failed at %s:%d: %s\n*** ", __FILE__, __LINE__,   \
                         #condition);                                                              \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fputc('\n', stderr);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// For messages: the text as UTF-8 with the non-printable characters escaped.
inline QByteArray fuzzShow(const QString &text)
{
    QByteArray out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            out += char(c.unicode());
        else
            out += QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QChar(u'0')).toLatin1();
    }
    return out;
}
