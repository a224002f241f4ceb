#pragma once

#include <QList>
#include <QString>
#include <QUuid>

// One dictionary row: what the recogniser tends to write, and the spelling wanted instead.
// Stored as is: rules are trimmed and filtered each time they are used, never when kept.
struct VocabularyRule
{
    QUuid id;
    QString heard;
    QString wanted;

    friend bool operator==(const VocabularyRule &, const VocabularyRule &) = default;
};

// Applies the user's dictionary to a text. Pure; any thread.
namespace Vocabulary {

// Replaces every whole-word, case-insensitive occurrence of each rule's heard form with its
// wanted form, written exactly as given. Longer heard forms go first, so a phrase rule wins
// over a rule for one of its words; each rule sees the text the ones before it produced.
// Rules with an empty heard or wanted (after trimming) change nothing.
QString apply(const QString &text, const QList<VocabularyRule> &rules);

// The wanted spellings, trimmed, empty ones dropped, in list order, joined by ", ".
QString preferredTerms(const QList<VocabularyRule> &rules);

// The number of user-perceived characters (grapheme clusters) in `text`.
qsizetype perceivedLength(const QString &text);

} // namespace Vocabulary
