#include "device/intconv.h"

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

std::optional<std::int32_t> parseHex(const QString &text, qsizetype i)
{
    const qsizetype digits = text.size() - i;
    if (digits < 1 || digits > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0)
            return std::nullopt;
        value = value << 4 | std::uint32_t(d);
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> parseDecimal(const QString &text, qsizetype i)
{
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= text.size())
        return std::nullopt;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < '0' || u > '9')
            return std::nullopt;
        value = value * 10 + (u - '0');
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace

std::optional<std::int32_t> parseInteger(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    if (i >= text.size())
        return std::nullopt;
    if (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')
        return parseHex(text, i + 1);
    if (text[i] == u'0' && i + 1 < text.size() && (text[i + 1] == u'x' || text[i + 1] == u'X'))
        return parseHex(text, i + 2);
    return parseDecimal(text, i);
}
