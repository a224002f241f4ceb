#include "core/text/customizationstore.h"

#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/text/customization.h"

CustomizationStore::CustomizationStore(Preferences &preferences, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_rules(Settings::vocabularyRules(preferences))
    , m_styles(Settings::customStyles(preferences))
{
}

void CustomizationStore::setRules(const QList<VocabularyRule> &rules)
{
    if (rules == m_rules)
        return;
    m_rules = rules;
    Settings::setVocabularyRules(m_preferences, m_rules);
    Q_EMIT rulesChanged();
}

void CustomizationStore::setStyles(const QList<CustomStyle> &styles)
{
    if (styles == m_styles)
        return;
    m_styles = styles;
    Settings::setCustomStyles(m_preferences, m_styles);
    Q_EMIT stylesChanged();
}

template<typename Item, typename Change>
void CustomizationStore::edit(QList<Item> &items, const QUuid &id, Change change)
{
    QList<Item> edited = items;
    for (Item &item : edited) {
        if (item.id == id)
            change(item);
    }
    if constexpr (std::is_same_v<Item, VocabularyRule>)
        setRules(edited);
    else
        setStyles(edited);
}

QUuid CustomizationStore::addRule()
{
    const QUuid id = QUuid::createUuid();
    setRules(m_rules + QList<VocabularyRule>{{id, QString(), QString()}});
    return id;
}

void CustomizationStore::removeRule(const QUuid &id)
{
    QList<VocabularyRule> remaining = m_rules;
    remaining.removeIf([&](const VocabularyRule &rule) { return rule.id == id; });
    setRules(remaining);
}

void CustomizationStore::setHeard(const QUuid &id, const QString &heard)
{
    edit(m_rules, id, [&](VocabularyRule &rule) { rule.heard = heard; });
}

void CustomizationStore::setWanted(const QUuid &id, const QString &wanted)
{
    edit(m_rules, id, [&](VocabularyRule &rule) { rule.wanted = wanted; });
}

QUuid CustomizationStore::addStyle()
{
    const QUuid id = QUuid::createUuid();
    setStyles(m_styles + QList<CustomStyle>{{id, QStringLiteral("My style"), QString()}});
    return id;
}

void CustomizationStore::deleteStyle(const QUuid &id)
{
    QList<CustomStyle> remaining = m_styles;
    remaining.removeIf([&](const CustomStyle &style) { return style.id == id; });
    setStyles(remaining);
    // Compared as UUIDs, so a selection written in lower case is recognised too.
    if (Settings::selectedStyle(m_preferences) == id)
        m_preferences.setString(PreferenceKeys::cleanupMode, CleanupMode(CleanupMode::off).rawValue());
}

void CustomizationStore::setStyleName(const QUuid &id, const QString &name)
{
    edit(m_styles, id, [&](CustomStyle &style) { style.name = name; });
}

void CustomizationStore::setStylePrompt(const QUuid &id, const QString &prompt)
{
    edit(m_styles, id, [&](CustomStyle &style) { style.prompt = prompt; });
}
