#include "core/text/vocabulary.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Rules written as "heard=>wanted" pairs, each with a fresh id.
QList<VocabularyRule> rules(const QStringList &pairs)
{
    QList<VocabularyRule> list;
    for (const QString &pair : pairs) {
        const qsizetype arrow = pair.indexOf(u"=>");
        list.append({QUuid::createUuid(), pair.left(arrow), pair.mid(arrow + 2)});
    }
    return list;
}

} // namespace

class TestVocabulary final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void apply_data()
    {
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no rules") << QStringList() << u"leave me alone"_s << u"leave me alone"_s;
        QTest::newRow("only unusable rules") << QStringList{u"=>Acme"_s, u"acme=>"_s, u"  =>  "_s}
                                             << u"acme corp"_s << u"acme corp"_s;
        QTest::newRow("case ignored, spelling kept")
            << QStringList{u"brindle wick=>BrindleWick"_s} << u"Brindle Wick, BRINDLE WICK and brindle wick"_s
            << u"BrindleWick, BrindleWick and BrindleWick"_s;
        QTest::newRow("whole words only") << QStringList{u"wick=>Wick"_s} << u"wicked BrindleWick wick"_s
                                          << u"wicked BrindleWick Wick"_s;
        QTest::newRow("longest first whatever the order")
            << QStringList{u"wick=>Wick"_s, u"brindle wick=>BrindleWick"_s} << u"the brindle wick and a wick"_s
            << u"the BrindleWick and a Wick"_s;
        QTest::newRow("later rules see earlier output")
            << QStringList{u"murmel app=>Murmel"_s, u"murmel=>MURMEL"_s} << u"murmel app"_s << u"MURMEL"_s;
        QTest::newRow("rule padded with blanks")
            << QStringList{u" Brindle Wick \n=> BrindleWick "_s} << u"brindle wick is great"_s
            << u"BrindleWick is great"_s;
        QTest::newRow("no match inside words")
            << QStringList{u"ai=>AI"_s} << u"said Thai ai. (ai)"_s << u"said Thai AI. (AI)"_s;
        QTest::newRow("dollar and digit are literal") << QStringList{u"price=>$1 and $0"_s} << u"the price"_s
                                                      << u"the $1 and $0"_s;
        QTest::newRow("backslashes are literal") << QStringList{u"path=>C:\\1\\Users"_s} << u"a path here"_s
                                                 << u"a C:\\1\\Users here"_s;
        QTest::newRow("dot is literal") << QStringList{u"a.b=>AB"_s} << u"axb a.b"_s << u"axb AB"_s;
        QTest::newRow("brackets are literal") << QStringList{u"a[1]b=>X"_s} << u"a1b a[1]b"_s << u"a1b X"_s;
        QTest::newRow("no boundary after closing punctuation")
            << QStringList{u"x[1]=>X1"_s} << u"x[1] x[1]y"_s << u"x[1] X1y"_s;
        QTest::newRow("punctuation at the end needs a boundary")
            << QStringList{u"A+=>A plus"_s} << u"A+ grade"_s << u"A+ grade"_s;
        QTest::newRow("same heard twice: the first wins")
            << QStringList{u"acme=>AcmeCo"_s, u"acme=>ACME"_s} << u"acme"_s << u"AcmeCo"_s;
        QTest::newRow("same heard twice: a first wanted that still matches is replaced again")
            << QStringList{u"acme=>Acme"_s, u"acme=>ACME"_s} << u"acme"_s << u"ACME"_s;
        QTest::newRow("decomposed accent belongs to its word")
            << QStringList{u"cafe\u0301=>Café"_s, u"cafe=>CAFE"_s} << u"cafe\u0301 cafe\u0301s cafe"_s
            << u"Café cafe\u0301s CAFE"_s;
        QTest::newRow("accented letters are word characters")
            << QStringList{u"cafe=>Café"_s, u"é=>E"_s} << u"cafe cafés é"_s << u"Café cafés E"_s;
        QTest::newRow("accented heard, any case")
            << QStringList{u"élan=>Élan"_s} << u"ÉLAN and élan, not élans"_s << u"Élan and Élan, not élans"_s;
        QTest::newRow("German sharp s") << QStringList{u"straße=>Strasse"_s} << u"die straße"_s << u"die Strasse"_s;
        QTest::newRow("CJK within a run of letters is not a word")
            << QStringList{u"東京=>Tokyo"_s} << u"東京 東京都"_s << u"Tokyo 東京都"_s;
        QTest::newRow("emoji has no word boundary")
            << QStringList{u"🎉=>party"_s} << u"a 🎉 b"_s << u"a 🎉 b"_s;
        QTest::newRow("emoji in the wanted form") << QStringList{u"party=>🎉"_s} << u"party time"_s
                                                  << u"🎉 time"_s;
        QTest::newRow("every occurrence") << QStringList{u"k8s=>Kubernetes"_s} << u"k8s, K8S and k8s"_s
                                          << u"Kubernetes, Kubernetes and Kubernetes"_s;
        QTest::newRow("replacement not rescanned by itself")
            << QStringList{u"go=>go go"_s} << u"go"_s << u"go go"_s;
    }

    void apply()
    {
        QFETCH(QStringList, rules);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Vocabulary::apply(text, ::rules(rules)), expected);
    }

    void longerByPerceivedCharacters()
    {
        const QString decomposed = u"cafe\u0301"_s; // 5 code points, 4 characters
        QCOMPARE(Vocabulary::perceivedLength(decomposed), 4);
        QCOMPARE(Vocabulary::perceivedLength(u"👩‍👩‍👧"_s), 1);
        QCOMPARE(Vocabulary::perceivedLength(QString()), 0);
        // Counted in code points the decomposed heard form (5) would go before "abcde" (5,
        // later in the list) and "abcd" (4); by characters it ties with "abcd" and the list
        // order holds: "abcde" first, then "abcd", then the decomposed one.
        const QList<VocabularyRule> chained =
            rules({u"abcd=>"_s + decomposed, decomposed + u"=>Z"_s, u"abcde=>abcd"_s});
        QCOMPARE(Vocabulary::apply(u"abcde"_s, chained), u"Z"_s);
    }

    void preferredTerms_data()
    {
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("padded, empty and plain") << QStringList{u"k=>  Kubernetes "_s, u"x=>"_s, u"g=>gRPC"_s}
                                                 << u"Kubernetes, gRPC"_s;
        QTest::newRow("legacy rule without heard") << QStringList{u"=>Acme"_s} << u"Acme"_s;
        QTest::newRow("no dedup, no sort") << QStringList{u"b=>Zed"_s, u"a=>Alpha"_s, u"c=>Zed"_s}
                                           << u"Zed, Alpha, Zed"_s;
    }

    void preferredTerms()
    {
        QFETCH(QStringList, rules);
        QFETCH(QString, expected);
        QCOMPARE(Vocabulary::preferredTerms(::rules(rules)), expected);
    }

    void legacyRuleChangesNoText()
    {
        QCOMPARE(Vocabulary::apply(u"acme rocks"_s, rules({u"=>Acme"_s})), u"acme rocks"_s);
    }
};

QTEST_GUILESS_MAIN(TestVocabulary)
#include "tst_vocabulary.moc"
