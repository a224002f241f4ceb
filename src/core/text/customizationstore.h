#pragma once

#include "core/base/cleanupmode.h"
#include "core/text/vocabulary.h"

#include <QObject>

class Preferences;

// The dictionary rules and the custom styles the editors change. Loaded once from the
// preferences; every change is written back at once, before the call returns, so the
// dictation controller, which reads the preferences directly, always sees the same thing.
// Main thread only.
class CustomizationStore final : public QObject
{
    Q_OBJECT

public:
    explicit CustomizationStore(Preferences &preferences, QObject *parent = nullptr);

    QList<VocabularyRule> rules() const { return m_rules; }
    QList<CustomStyle> styles() const { return m_styles; }

    // Replace the whole list (what an editor binding does) and persist it.
    void setRules(const QList<VocabularyRule> &rules);
    void setStyles(const QList<CustomStyle> &styles);

    // The editors' operations.
    Q_INVOKABLE QUuid addRule();
    Q_INVOKABLE void removeRule(const QUuid &id);
    Q_INVOKABLE void setHeard(const QUuid &id, const QString &heard);
    Q_INVOKABLE void setWanted(const QUuid &id, const QString &wanted);
    Q_INVOKABLE QUuid addStyle();
    // Removes the style; when it was the selected cleanup voice, cleanup turns off.
    Q_INVOKABLE void deleteStyle(const QUuid &id);
    Q_INVOKABLE void setStyleName(const QUuid &id, const QString &name);
    Q_INVOKABLE void setStylePrompt(const QUuid &id, const QString &prompt);

Q_SIGNALS:
    void rulesChanged();
    void stylesChanged();

private:
    template<typename Item, typename Change>
    void edit(QList<Item> &items, const QUuid &id, Change change);

    Preferences &m_preferences;
    QList<VocabularyRule> m_rules;
    QList<CustomStyle> m_styles;
};
