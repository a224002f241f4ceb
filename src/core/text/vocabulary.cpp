#include "core/text/vocabulary.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

// A word boundary like \b, with Unicode letters and digits as word characters ("é", "ß",
// "東") and combining marks too, so that a decomposed "é" (e + U+0301) is one letter of its
// word rather than the end of it.
const QString wordBoundary = QStringLiteral("(?:(?<=[\\w\\p{M}])(?![\\w\\p{M}])|(?<![\\w\\p{M}])(?=[\\w\\p{M}]))");

} // namespace

namespace Vocabulary {

qsizetype perceivedLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString apply(const QString &text, const QList<VocabularyRule> &rules)
{
    struct Pair
    {
        QString heard;
        QString wanted;
        qsizetype length;
    };
    QList<Pair> pairs;
    for (const VocabularyRule &rule : rules) {
        const QString heard = rule.heard.trimmed();
        const QString wanted = rule.wanted.trimmed();
        if (!heard.isEmpty() && !wanted.isEmpty())
            pairs.append({heard, wanted, perceivedLength(heard)});
    }
    std::stable_sort(pairs.begin(), pairs.end(), [](const Pair &a, const Pair &b) { return a.length > b.length; });

    QString result = text;
    for (const Pair &pair : std::as_const(pairs)) {
        const QRegularExpression pattern(wordBoundary + QRegularExpression::escape(pair.heard) + wordBoundary,
                                         QRegularExpression::CaseInsensitiveOption
                                             | QRegularExpression::UseUnicodePropertiesOption);
        if (!pattern.isValid())
            continue;
        // Built by hand rather than with QString::replace, whose replacement text would read
        // "\1" in a wanted spelling as a back-reference.
        QString replaced;
        qsizetype copiedUpTo = 0;
        QRegularExpressionMatchIterator matches = pattern.globalMatch(result);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            replaced += QStringView(result).sliced(copiedUpTo, match.capturedStart() - copiedUpTo);
            replaced += pair.wanted;
            copiedUpTo = match.capturedEnd();
        }
        if (copiedUpTo == 0 && replaced.isEmpty())
            continue;
        replaced += QStringView(result).sliced(copiedUpTo);
        result = replaced;
    }
    return result;
}

QString preferredTerms(const QList<VocabularyRule> &rules)
{
    QStringList terms;
    for (const VocabularyRule &rule : rules) {
        const QString wanted = rule.wanted.trimmed();
        if (!wanted.isEmpty())
            terms << wanted;
    }
    return terms.join(QStringLiteral(", "));
}

} // namespace Vocabulary
