#include "customization.h"

#include "app/preferencekeys.h"
#include "app/preferences.h"
#include "app/uuids.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString customPrefix = QStringLiteral("custom:");

// Every key present with a string value, or nothing.
std::optional<QStringList> strings(const QJsonValue &element, const QStringList &keys)
{
    if (!element.isObject())
        return std::nullopt;
    const QJsonObject object = element.toObject();
    QStringList values;
    for (const QString &key : keys) {
        const QJsonValue value = object.value(key);
        if (!value.isString())
            return std::nullopt;
        values << value.toString();
    }
    return values;
}

std::optional<QJsonArray> array(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    return document.array();
}

} // namespace

namespace CustomizationCoding {

QByteArray encodeRules(const QList<VocabularyRule> &rules)
{
    QJsonArray list;
    for (const VocabularyRule &rule : rules)
        list.append(QJsonObject{{QStringLiteral("id"), Uuids::canonical(rule.id)},
                                {QStringLiteral("heard"), rule.heard},
                                {QStringLiteral("wanted"), rule.wanted}});
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

std::optional<QList<VocabularyRule>> decodeRules(const QByteArray &json)
{
    const std::optional<QJsonArray> list = array(json);
    if (!list)
        return std::nullopt;
    QList<VocabularyRule> rules;
    for (const QJsonValue &element : *list) {
        const auto values = strings(element, {QStringLiteral("id"), QStringLiteral("heard"), QStringLiteral("wanted")});
        const std::optional<QUuid> id = values ? Uuids::parse(values->at(0)) : std::nullopt;
        if (!id)
            return std::nullopt;
        rules.append({*id, values->at(1), values->at(2)});
    }
    return rules;
}

QByteArray encodeStyles(const QList<CustomStyle> &styles)
{
    QJsonArray list;
    for (const CustomStyle &style : styles)
        list.append(QJsonObject{{QStringLiteral("id"), Uuids::canonical(style.id)},
                                {QStringLiteral("name"), style.name},
                                {QStringLiteral("prompt"), style.prompt}});
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

std::optional<QList<CustomStyle>> decodeStyles(const QByteArray &json)
{
    const std::optional<QJsonArray> list = array(json);
    if (!list)
        return std::nullopt;
    QList<CustomStyle> styles;
    for (const QJsonValue &element : *list) {
        const auto values = strings(element, {QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("prompt")});
        const std::optional<QUuid> id = values ? Uuids::parse(values->at(0)) : std::nullopt;
        if (!id)
            return std::nullopt;
        styles.append({*id, values->at(1), values->at(2)});
    }
    return styles;
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

CleanupResolution resolvedCleanup()
{
    return resolvedCleanup(Preferences::shared());
}

} // namespace Settings
