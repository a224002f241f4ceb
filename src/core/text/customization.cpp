#include "core/text/customization.h"

#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/base/uuids.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString customPrefix = QStringLiteral("custom:");

std::optional<QJsonArray> array(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    return document.array();
}

// Rules and styles have the same shape, an id and two texts, under different key names.
template<typename Item>
struct Shape
{
    QString firstKey;
    QString Item::*first;
    QString secondKey;
    QString Item::*second;
};

const Shape<VocabularyRule> ruleShape{QStringLiteral("heard"), &VocabularyRule::heard, QStringLiteral("wanted"),
                                      &VocabularyRule::wanted};
const Shape<CustomStyle> styleShape{QStringLiteral("name"), &CustomStyle::name, QStringLiteral("prompt"),
                                    &CustomStyle::prompt};

template<typename Item>
QByteArray encode(const QList<Item> &items, const Shape<Item> &shape)
{
    QJsonArray list;
    for (const Item &item : items)
        list.append(QJsonObject{{QStringLiteral("id"), Uuids::canonical(item.id)},
                                {shape.firstKey, item.*shape.first},
                                {shape.secondKey, item.*shape.second}});
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

// All or nothing: every element needs all three keys with string values and a valid id.
template<typename Item>
std::optional<QList<Item>> decode(const QByteArray &json, const Shape<Item> &shape)
{
    const std::optional<QJsonArray> list = array(json);
    if (!list)
        return std::nullopt;
    QList<Item> items;
    for (const QJsonValue &element : *list) {
        const QJsonObject object = element.toObject();
        const QJsonValue id = object.value(u"id");
        const QJsonValue first = object.value(shape.firstKey);
        const QJsonValue second = object.value(shape.secondKey);
        const std::optional<QUuid> uuid = id.isString() ? Uuids::parse(id.toString()) : std::nullopt;
        if (!element.isObject() || !uuid || !first.isString() || !second.isString())
            return std::nullopt;
        Item item;
        item.id = *uuid;
        item.*shape.first = first.toString();
        item.*shape.second = second.toString();
        items.append(item);
    }
    return items;
}

} // namespace

namespace CustomizationCoding {

QByteArray encodeRules(const QList<VocabularyRule> &rules)
{
    return encode(rules, ruleShape);
}

std::optional<QList<VocabularyRule>> decodeRules(const QByteArray &json)
{
    return decode(json, ruleShape);
}

QByteArray encodeStyles(const QList<CustomStyle> &styles)
{
    return encode(styles, styleShape);
}

std::optional<QList<CustomStyle>> decodeStyles(const QByteArray &json)
{
    return decode(json, styleShape);
}

} // namespace CustomizationCoding

namespace Settings {

QList<VocabularyRule> vocabularyRules(const Preferences &preferences)
{
    if (const std::optional<QByteArray> data = preferences.data(PreferenceKeys::vocabularyRules)) {
        if (auto rules = CustomizationCoding::decodeRules(*data))
            return *rules;
    }
    QList<VocabularyRule> legacy;
    const QString list = preferences.string(PreferenceKeys::vocabulary).value_or(QString());
    for (const QString &piece : list.split(u',', Qt::SkipEmptyParts)) {
        const QString term = piece.trimmed();
        if (!term.isEmpty())
            legacy.append({QUuid::createUuid(), QString(), term});
    }
    return legacy;
}

bool setVocabularyRules(Preferences &preferences, const QList<VocabularyRule> &rules)
{
    return preferences.setData(PreferenceKeys::vocabularyRules, CustomizationCoding::encodeRules(rules));
}

QList<CustomStyle> customStyles(const Preferences &preferences)
{
    const std::optional<QByteArray> data = preferences.data(PreferenceKeys::customStyles);
    if (!data)
        return {};
    return CustomizationCoding::decodeStyles(*data).value_or(QList<CustomStyle>());
}

bool setCustomStyles(Preferences &preferences, const QList<CustomStyle> &styles)
{
    return preferences.setData(PreferenceKeys::customStyles, CustomizationCoding::encodeStyles(styles));
}

QString customSelection(const QUuid &styleId)
{
    return customPrefix + Uuids::canonical(styleId);
}

std::optional<QUuid> selectedStyle(const Preferences &preferences)
{
    const QString selection = preferences.stringOrDefault(PreferenceKeys::cleanupMode);
    if (!selection.startsWith(customPrefix))
        return std::nullopt;
    return Uuids::parse(QStringView(selection).sliced(customPrefix.size()));
}

CleanupResolution resolvedCleanup(const Preferences &preferences)
{
    const QString selection = preferences.stringOrDefault(PreferenceKeys::cleanupMode);
    if (selection.startsWith(customPrefix)) {
        const std::optional<QUuid> id = selectedStyle(preferences);
        if (!id)
            return {};
        for (const CustomStyle &style : customStyles(preferences)) {
            if (style.id != *id)
                continue;
            if (style.prompt.trimmed().isEmpty())
                return {};
            return {true, style.prompt};
        }
        return {};
    }
    const std::optional<CleanupMode> mode = CleanupMode::fromRawValue(selection);
    if (!mode || !mode->isActive())
        return {};
    return {true, mode->systemPrompt()};
}

} // namespace Settings
