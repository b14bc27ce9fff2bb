#include "cli/settingsfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringList>
#include <cmath>

namespace SettingsFile {

namespace {

using SettingsLayout::Field;
using SettingsLayout::Kind;

constexpr const char *FormatName = "tarvik2-settings";
constexpr int FormatVersion = 1;

QString quoted(const QString &text)
{
    // QJsonDocument escapes; the array around the string is cut off again.
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

QString rangeText(int min, int max) { return QStringLiteral("%1-%2").arg(min).arg(max); }

QString byteText(std::uint8_t byte)
{
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

} // namespace

QByteArray write(const SettingsBlock::Block &block, const QString &port, const QString &time)
{
    QStringList lines;
    lines << QStringLiteral("{");
    lines << QStringLiteral("  \"format\": %1,").arg(quoted(QLatin1String(FormatName)));
    lines << QStringLiteral("  \"version\": %1,").arg(FormatVersion);
    lines << QStringLiteral("  \"source\": {");
    lines << QStringLiteral("    \"port\": %1,").arg(quoted(port));
    lines << QStringLiteral("    \"time\": %1,").arg(quoted(time));
    lines << QStringLiteral("    \"device_type\": %1").arg(block[1]);
    lines << QStringLiteral("  },");
    lines << QStringLiteral("  \"fields\": {");
    const auto &fields = SettingsLayout::Fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field &field = fields[i];
        const int value = SettingsBlock::value(field, block.data());
        const QString text = field.kind == Kind::Flag ? QLatin1String(value ? "true" : "false")
                                                      : QString::number(value);
        lines << QStringLiteral("    \"%1\": %2%3")
                     .arg(QLatin1String(field.key), text,
                          QLatin1String(i + 1 < fields.size() ? "," : ""));
    }
    lines << QStringLiteral("  },");
    const QByteArray hex =
        QByteArray(reinterpret_cast<const char *>(block.data()), block.size()).toHex();
    lines << QStringLiteral("  \"block\": \"%1\"").arg(QString::fromLatin1(hex));
    lines << QStringLiteral("}");
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}

namespace {

bool takeValue(const Field &field, const QJsonValue &json, Wanted &wanted, QString *error)
{
    int value = 0;
    if (field.kind == Kind::Flag) {
        if (!json.isBool()) {
            *error = QStringLiteral("%1 must be true or false").arg(QLatin1String(field.key));
            return false;
        }
        value = json.toBool() ? 1 : 0;
    } else {
        const double number = json.toDouble(-1);
        const int max = SettingsLayout::widthMax(field);
        if (!json.isDouble() || number != std::floor(number)) {
            *error = QStringLiteral("%1 must be a whole number").arg(QLatin1String(field.key));
            return false;
        }
        if (number < 0 || number > max) {
            *error = QStringLiteral("%1: %2 is outside %3")
                         .arg(QLatin1String(field.key), QString::number(number, 'g', 17),
                              rangeText(0, max));
            return false;
        }
        value = int(number);
    }
    wanted[std::size_t(field.id)] = value;
    return true;
}

// The first key that one object of a JSON text gives twice, or nothing. QJsonDocument keeps
// the last of them without a word; the text has passed its parser, so its strings are whole.
std::optional<QString> duplicateKey(const QByteArray &json)
{
    struct Level {
        bool object;
        QSet<QString> keys;
    };
    std::vector<Level> levels;
    bool keyNext = false; // inside an object, where a key comes next
    for (qsizetype i = 0; i < json.size(); ++i) {
        switch (json[i]) {
        case '{':
        case '[':
            levels.push_back({json[i] == '{', {}});
            keyNext = levels.back().object;
            break;
        case '}':
        case ']':
            if (!levels.empty())
                levels.pop_back();
            keyNext = false;
            break;
        case ',':
            keyNext = !levels.empty() && levels.back().object;
            break;
        case '"': {
            qsizetype end = i + 1;
            while (end < json.size() && json[end] != '"')
                end += json[end] == '\\' ? 2 : 1;
            if (keyNext) {
                // Qt's own reading of the string, escapes and all.
                const QString key = QJsonDocument::fromJson('[' + json.mid(i, end - i + 1) + ']')
                                        .array()
                                        .at(0)
                                        .toString();
                if (levels.back().keys.contains(key))
                    return key;
                levels.back().keys.insert(key);
                keyNext = false;
            }
            i = end;
            break;
        }
        default:
            break;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<Contents> parse(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        *error = QStringLiteral("not JSON: %1 at byte %2")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return std::nullopt;
    }
    if (const std::optional<QString> key = duplicateKey(json)) {
        *error = QStringLiteral("the key \"%1\" is given twice").arg(*key);
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(FormatName)) {
        *error = QStringLiteral("not a settings file (\"format\" is not \"%1\")")
                     .arg(QLatin1String(FormatName));
        return std::nullopt;
    }
    if (root.value(QStringLiteral("version")) != QJsonValue(FormatVersion)) {
        *error = QStringLiteral("unknown settings file version (this tool reads version %1)")
                     .arg(FormatVersion);
        return std::nullopt;
    }
    for (auto it = root.begin(); it != root.end(); ++it) {
        static const QStringList Known{QStringLiteral("format"), QStringLiteral("version"),
                                       QStringLiteral("source"), QStringLiteral("fields"),
                                       QStringLiteral("block")};
        if (!Known.contains(it.key())) {
            *error = QStringLiteral("unknown key \"%1\"").arg(it.key());
            return std::nullopt;
        }
    }
    Contents contents;
    const QByteArray hex = root.value(QStringLiteral("block")).toString().toLatin1();
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (hex.size() != 2 * SettingsBlock::Size || bytes.size() != SettingsBlock::Size ||
        bytes.toHex() != hex.toLower()) {
        *error = QStringLiteral("\"block\" must be %1 hex digits").arg(2 * SettingsBlock::Size);
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), contents.block.begin());
    const QJsonValue fields = root.value(QStringLiteral("fields"));
    if (!fields.isObject()) {
        *error = QStringLiteral("\"fields\" must be an object");
        return std::nullopt;
    }
    const QJsonObject object = fields.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const Field *field = SettingsLayout::find(it.key());
        if (!field) {
            *error = QStringLiteral("unknown field \"%1\"").arg(it.key());
            return std::nullopt;
        }
        if (!takeValue(*field, it.value(), contents.fields, error))
            return std::nullopt;
    }
    return contents;
}

bool applySet(const QString &assignment, Wanted &wanted, QString *error)
{
    const qsizetype equals = assignment.indexOf(QLatin1Char('='));
    const QString key = assignment.left(equals);
    const QString text = assignment.mid(equals + 1);
    const Field *field = equals > 0 ? SettingsLayout::find(key) : nullptr;
    if (equals <= 0) {
        *error = QStringLiteral("--set %1: give KEY=VALUE").arg(assignment);
        return false;
    }
    if (!field) {
        *error = QStringLiteral("--set %1: unknown field \"%2\"").arg(assignment, key);
        return false;
    }
    if (!field->written) {
        *error =
            QStringLiteral("--set %1: %2 is informative and never written").arg(assignment, key);
        return false;
    }
    QJsonValue value;
    if (field->kind == Kind::Flag) {
        if (text != QLatin1String("true") && text != QLatin1String("false")) {
            *error = QStringLiteral("--set %1: %2 must be true or false").arg(assignment, key);
            return false;
        }
        value = text == QLatin1String("true");
    } else {
        bool ok = false;
        const qlonglong number = text.toLongLong(&ok);
        if (!ok) {
            *error = QStringLiteral("--set %1: %2 must be a whole number").arg(assignment, key);
            return false;
        }
        value = double(number);
    }
    if (!takeValue(*field, value, wanted, error)) {
        error->prepend(QStringLiteral("--set %1: ").arg(assignment));
        return false;
    }
    return true;
}

QString valueText(const Field &field, const std::uint8_t *block)
{
    const int value = SettingsBlock::value(field, block);
    if (field.kind == Kind::Number)
        return QString::number(value);
    const int byte = block[field.offset];
    QString text = QLatin1String(value ? "true" : "false");
    if (byte > 1)
        text += QStringLiteral(" (byte %1)").arg(byte);
    return text;
}

std::vector<QString> differenceLines(const std::vector<SettingsBlock::Difference> &differences,
                                     const std::uint8_t *from, const std::uint8_t *to,
                                     const QString &arrow)
{
    std::vector<QString> lines;
    for (const SettingsBlock::Difference &d : differences) {
        if (d.field) {
            lines.push_back(QLatin1String(d.field->key) + QStringLiteral(": ") +
                            valueText(*d.field, from) + arrow + valueText(*d.field, to));
        } else {
            // One multi-argument arg() fills every placeholder in one pass: no digit after a
            // placeholder and nothing in the arrow can be taken for another one.
            lines.push_back(QStringLiteral("offset %1: %2%3%4")
                                .arg(QString::number(d.offset), byteText(from[d.offset]), arrow,
                                     byteText(to[d.offset])));
        }
    }
    return lines;
}

std::vector<QString> differenceLines(const std::uint8_t *from, const std::uint8_t *to,
                                     const QString &arrow)
{
    return differenceLines(SettingsBlock::compare(from, to), from, to, arrow);
}

} // namespace SettingsFile
