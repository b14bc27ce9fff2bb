// The setting fields' integer conversion against a reference written from its rules:
//  - blanks (spaces only) before the number are skipped; nothing may follow it; empty fails;
//  - decimal: an optional '+' or '-', then decimal digits, the value within signed 32 bits;
//  - hexadecimal: "$", "x", "X", "0x" or "0X", then 1 to 8 hex digits, no sign; the value is
//    the 32-bit two's complement of those digits;
//  - toInteger() throws ConversionError exactly when parseInteger() fails, with the message
//    "'<text>' is not a valid integer value", and otherwise returns the same value.
// The input bytes are tried both as UTF-8 and as Latin-1.

#include "app/apperror.h"
#include "device/intconv.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>

namespace {

bool isDecimalDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool isHexDigit(char16_t c)
{
    return isDecimalDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

std::optional<std::int32_t> referenceHex(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    // Qt's conversion also takes blanks, a sign and a "0x"; only plain ASCII digits go to it.
    for (const QChar c : digits) {
        if (!isHexDigit(c.unicode()))
            return std::nullopt;
    }
    const std::uint64_t value = digits.toULongLong(nullptr, 16);
    // Two's complement: "$FFFFFFFF" is -1, "$80000000" the smallest value.
    const std::int64_t signedValue =
        value >= 0x80000000u ? std::int64_t(value) - 0x100000000LL : std::int64_t(value);
    return std::int32_t(signedValue);
}

std::optional<std::int32_t> referenceDecimal(QStringView text)
{
    bool negative = false;
    if (text.startsWith(u'+') || text.startsWith(u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    // Leading zeros are allowed, so the digit count says nothing; stop counting once the
    // magnitude is past every 32-bit value.
    std::uint64_t magnitude = 0;
    for (const QChar c : text) {
        if (!isDecimalDigit(c.unicode()))
            return std::nullopt;
        if (magnitude <= 0xFFFFFFFFu)
            magnitude = magnitude * 10 + std::uint64_t(c.unicode() - u'0');
    }
    const std::int64_t value = negative ? -std::int64_t(magnitude) : std::int64_t(magnitude);
    if (value < -2147483648LL || value > 2147483647LL)
        return std::nullopt;
    return std::int32_t(value);
}

std::optional<std::int32_t> referenceParse(const QString &text)
{
    QStringView rest(text);
    while (!rest.isEmpty() && rest.front() == u' ')
        rest = rest.mid(1);
    if (rest.isEmpty())
        return std::nullopt;
    for (const char16_t *prefix : {u"0x", u"0X", u"$", u"x", u"X"}) {
        const QStringView p(prefix);
        if (rest.startsWith(p))
            return referenceHex(rest.mid(p.size()));
    }
    return referenceDecimal(rest);
}

void checkText(const QString &text)
{
    const std::optional<std::int32_t> expected = referenceParse(text);
    const std::optional<std::int32_t> got = parseInteger(text);
    FUZZ_CHECK(got.has_value() == expected.has_value(), "parseInteger(\"%s\") %s, expected %s",
               fuzzShow(text).constData(), got ? "succeeded" : "failed",
               expected ? "success" : "failure");
    if (expected)
        FUZZ_CHECK(*got == *expected, "parseInteger(\"%s\") gave %d, expected %d",
                   fuzzShow(text).constData(), int(*got), int(*expected));

    try {
        const std::int32_t value = toInteger(text);
        FUZZ_CHECK(expected.has_value(), "toInteger(\"%s\") returned %d instead of throwing",
                   fuzzShow(text).constData(), int(value));
        FUZZ_CHECK(value == *expected, "toInteger(\"%s\") gave %d, expected %d",
                   fuzzShow(text).constData(), int(value), int(*expected));
    } catch (const ConversionError &error) {
        FUZZ_CHECK(!expected.has_value(), "toInteger(\"%s\") threw for a valid integer",
                   fuzzShow(text).constData());
        const QString message =
            QLatin1Char('\'') + text + QLatin1String("' is not a valid integer value");
        FUZZ_CHECK(error.message() == message, "toInteger(\"%s\") threw with \"%s\"",
                   fuzzShow(text).constData(), fuzzShow(error.message()).constData());
    } catch (...) {
        FUZZ_CHECK(false, "toInteger(\"%s\") threw something other than ConversionError",
                   fuzzShow(text).constData());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    const qsizetype length = qsizetype(size);
    checkText(QString::fromUtf8(chars, length));
    checkText(QString::fromLatin1(chars, length));
    return 0;
}
