#pragma once

#include <QString>
#include <QUuid>

#include <optional>

// UUIDs as Murmel stores them: upper-case 8-4-4-4-12 hexadecimal, read in either case.
namespace Uuids {

inline QString canonical(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Only the bare 36-character form; braces or other spellings name no UUID.
inline std::optional<QUuid> parse(QStringView text)
{
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != u"00000000-0000-0000-0000-000000000000")
        return std::nullopt;
    return id;
}

} // namespace Uuids
