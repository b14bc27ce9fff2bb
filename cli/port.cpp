#include "cli/port.h"

#include "serial/comnames.h"

#include <QRegularExpression>
#include <QSet>

QString Port::fileTag() const
{
    QString tag = name;
    while (tag.startsWith(QLatin1Char('/')))
        tag.remove(0, 1);
    return tag.replace(QLatin1Char('/'), QLatin1Char('_'));
}

std::optional<int> comIndex(const QString &name)
{
    static const QRegularExpression ComName(QStringLiteral("^COM([1-9][0-9]?)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto match = ComName.match(name);
    if (!match.hasMatch() || match.captured(1).toInt() > ComNames::Count)
        return std::nullopt;
    return match.captured(1).toInt() - 1;
}

std::optional<QList<Port>> parsePorts(const QString &text, QString *error)
{
    QList<Port> ports;
    QSet<QString> seen;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        Port port;
        port.name = name;
        if (const std::optional<int> index = comIndex(name)) {
            port.index = *index;
        } else if (name.contains(QLatin1Char('/'))) {
            port.path = name;
        } else {
            *error =
                QStringLiteral("'%1' is no port: give COM1 to COM40 or a device path").arg(name);
            return std::nullopt;
        }
        const QString key = port.index >= 0 ? ComNames::name(port.index) : port.path;
        if (seen.contains(key)) {
            *error = QStringLiteral("port %1 is named twice").arg(name);
            return std::nullopt;
        }
        seen.insert(key);
        ports << port;
    }
    return ports;
}

QString portFileName(const QString &pattern, const Port &port)
{
    QString name = pattern;
    return name.replace(QStringLiteral("{port}"), port.fileTag());
}
