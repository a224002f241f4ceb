#include "text/vocabulary.h"

#include <QTest>

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

        QTest::newRow("no rules") << QStringList() << u"leave me alone"_qs << u"leave me alone"_qs;
        QTest::newRow("only unusable rules") << QStringList{u"=>Acme"_qs, u"acme=>"_qs, u"  =>  "_qs}
                                             << u"acme corp"_qs << u"acme corp"_qs;
        QTest::newRow("case ignored, spelling kept")
            << QStringList{u"brindle wick=>BrindleWick"_qs} << u"Brindle Wick, BRINDLE WICK and brindle wick"_qs
            << u"BrindleWick, BrindleWick and BrindleWick"_qs;
        QTest::newRow("whole words only") << QStringList{u"wick=>Wick"_qs} << u"wicked BrindleWick wick"_qs
                                          << u"wicked BrindleWick Wick"_qs;
        QTest::newRow("longest first whatever the order")
            << QStringList{u"wick=>Wick"_qs, u"brindle wick=>BrindleWick"_qs} << u"the brindle wick and a wick"_qs
            << u"the BrindleWick and a Wick"_qs;
        QTest::newRow("later rules see earlier output")
            << QStringList{u"murmel app=>Murmel"_qs, u"murmel=>MURMEL"_qs} << u"murmel app"_qs << u"MURMEL"_qs;
        QTest::newRow("rule padded with blanks")
            << QStringList{u" Brindle Wick \n=> BrindleWick "_qs} << u"brindle wick is great"_qs
            << u"BrindleWick is great"_qs;
        QTest::newRow("no match inside words")
            << QStringList{u"ai=>AI"_qs} << u"said Thai ai. (ai)"_qs << u"said Thai AI. (AI)"_qs;
        QTest::newRow("dollar and digit are literal") << QStringList{u"price=>$1 and $0"_qs} << u"the price"_qs
                                                      << u"the $1 and $0"_qs;
        QTest::newRow("backslashes are literal") << QStringList{u"path=>C:\\1\\Users"_qs} << u"a path here"_qs
                                                 << u"a C:\\1\\Users here"_qs;
        QTest::newRow("dot is literal") << QStringList{u"a.b=>AB"_qs} << u"axb a.b"_qs << u"axb AB"_qs;
        QTest::newRow("brackets are literal") << QStringList{u"a[1]b=>X"_qs} << u"a1b a[1]b"_qs << u"a1b X"_qs;
        QTest::newRow("no boundary after closing punctuation")
            << QStringList{u"x[1]=>X1"_qs} << u"x[1] x[1]y"_qs << u"x[1] X1y"_qs;
        QTest::newRow("punctuation at the end needs a boundary")
            << QStringList{u"A+=>A plus"_qs} << u"A+ grade"_qs << u"A+ grade"_qs;
        QTest::newRow("same heard twice: the first wins")
            << QStringList{u"acme=>AcmeCo"_qs, u"acme=>ACME"_qs} << u"acme"_qs << u"AcmeCo"_qs;
        QTest::newRow("same heard twice: a first wanted that still matches is replaced again")
            << QStringList{u"acme=>Acme"_qs, u"acme=>ACME"_qs} << u"acme"_qs << u"ACME"_qs;
        QTest::newRow("decomposed accent belongs to its word")
            << QStringList{u"cafe\u0301=>Café"_qs, u"cafe=>CAFE"_qs} << u"cafe\u0301 cafe\u0301s cafe"_qs
            << u"Café cafe\u0301s CAFE"_qs;
        QTest::newRow("accented letters are word characters")
            << QStringList{u"cafe=>Café"_qs, u"é=>E"_qs} << u"cafe cafés é"_qs << u"Café cafés E"_qs;
        QTest::newRow("accented heard, any case")
            << QStringList{u"élan=>Élan"_qs} << u"ÉLAN and élan, not élans"_qs << u"Élan and Élan, not élans"_qs;
        QTest::newRow("German sharp s") << QStringList{u"straße=>Strasse"_qs} << u"die straße"_qs << u"die Strasse"_qs;
        QTest::newRow("CJK within a run of letters is not a word")
            << QStringList{u"東京=>Tokyo"_qs} << u"東京 東京都"_qs << u"Tokyo 東京都"_qs;
        QTest::newRow("emoji has no word boundary")
            << QStringList{u"🎉=>party"_qs} << u"a 🎉 b"_qs << u"a 🎉 b"_qs;
        QTest::newRow("emoji in the wanted form") << QStringList{u"party=>🎉"_qs} << u"party time"_qs
                                                  << u"🎉 time"_qs;
        QTest::newRow("every occurrence") << QStringList{u"k8s=>Kubernetes"_qs} << u"k8s, K8S and k8s"_qs
                                          << u"Kubernetes, Kubernetes and Kubernetes"_qs;
        QTest::newRow("replacement not rescanned by itself")
            << QStringList{u"go=>go go"_qs} << u"go"_qs << u"go go"_qs;
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
        const QString decomposed = u"cafe\u0301"_qs; // 5 code points, 4 characters
        QCOMPARE(Vocabulary::perceivedLength(decomposed), 4);
        QCOMPARE(Vocabulary::perceivedLength(u"👩‍👩‍👧"_qs), 1);
        QCOMPARE(Vocabulary::perceivedLength(QString()), 0);
        // Counted in code points the decomposed heard form (5) would go before "abcde" (5,
        // later in the list) and "abcd" (4); by characters it ties with "abcd" and the list
        // order holds: "abcde" first, then "abcd", then the decomposed one.
        const QList<VocabularyRule> chained =
            rules({u"abcd=>"_qs + decomposed, decomposed + u"=>Z"_qs, u"abcde=>abcd"_qs});
        QCOMPARE(Vocabulary::apply(u"abcde"_qs, chained), u"Z"_qs);
    }

    void preferredTerms_data()
    {
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("padded, empty and plain") << QStringList{u"k=>  Kubernetes "_qs, u"x=>"_qs, u"g=>gRPC"_qs}
                                                 << u"Kubernetes, gRPC"_qs;
        QTest::newRow("legacy rule without heard") << QStringList{u"=>Acme"_qs} << u"Acme"_qs;
        QTest::newRow("no dedup, no sort") << QStringList{u"b=>Zed"_qs, u"a=>Alpha"_qs, u"c=>Zed"_qs}
                                           << u"Zed, Alpha, Zed"_qs;
    }

    void preferredTerms()
    {
        QFETCH(QStringList, rules);
        QFETCH(QString, expected);
        QCOMPARE(Vocabulary::preferredTerms(::rules(rules)), expected);
    }

    void legacyRuleChangesNoText()
    {
        QCOMPARE(Vocabulary::apply(u"acme rocks"_qs, rules({u"=>Acme"_qs})), u"acme rocks"_qs);
    }
};

QTEST_GUILESS_MAIN(TestVocabulary)
#include "tst_vocabulary.moc"
