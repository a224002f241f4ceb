#include "core/base/appinfo.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {

// What a mail client does with a mailto query (RFC 6068): split on '&', then on the first
// '=', then undo the percent-encoding and nothing else; '+' stays a plus.
QMap<QString, QString> decodedLikeAMailClient(const QUrl &url)
{
    QMap<QString, QString> fields;
    const QByteArray query = url.toEncoded(QUrl::FullyEncoded).split('?').value(1);
    for (const QByteArray &field : query.split('&')) {
        const qsizetype equals = field.indexOf('=');
        fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(field.left(equals))),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(field.mid(equals + 1))));
    }
    return fields;
}

QString release()
{
    return u"Murmel " MURMEL_VERSION " ("_s + AppInfo::build() + u')';
}

} // namespace

class TestAppInfo final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildIsANumber()
    {
        // The commit count, or 0 outside a repository: a number either way, never empty.
        QVERIFY2(QRegularExpression(u"^[0-9]+$"_s).match(AppInfo::build()).hasMatch(), qPrintable(AppInfo::build()));
    }

    void supportMailUrl_data()
    {
        QTest::addColumn<QString>("operatingSystem");
        QTest::newRow("debian") << u"Debian GNU/Linux 12 (bookworm)"_s;
        QTest::newRow("fedora") << u"Fedora Linux 40 (Workstation Edition)"_s;
        QTest::newRow("query delimiters") << u"Acme & Sons #2 = best? 100% /dev"_s;
        QTest::newRow("plus and semicolon") << u"Slack+ware; 15.0"_s;
        QTest::newRow("non-ASCII") << u"Ubuntu 24.04 LTS — Ünïcödé 日本語"_s;
        QTest::newRow("percent escapes") << u"%0A%20%2B"_s;
    }

    void supportMailUrl()
    {
        QFETCH(QString, operatingSystem);
        const QUrl url = AppInfo::supportMailUrl(operatingSystem);
        const QString subject = release() + u" support"_s;
        const QString body = u"\n\n("_s + release() + u" on "_s + operatingSystem + u')';

        QVERIFY(url.isValid());
        QCOMPARE(url.scheme(), u"mailto"_s);
        QCOMPARE(url.path(), u"support@murmel.app"_s);
        QCOMPARE(url.path(), AppInfo::supportAddress());

        const QUrlQuery query(url);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 2);
        QCOMPARE(query.queryItemValue(u"subject"_s, QUrl::FullyDecoded), subject);
        QCOMPARE(query.queryItemValue(u"body"_s, QUrl::FullyDecoded), body);

        // The link leaves us as text (the URL opener's argument); read back from that text by a
        // client that knows only percent-encoding, it must say exactly the same.
        const QByteArray encoded = url.toEncoded();
        QVERIFY2(!encoded.contains(' ') && !encoded.contains('\n') && !encoded.contains('+'), encoded.constData());
        QVERIFY(encoded.contains("%20") && encoded.contains("%0A%0A"));
        const QMap<QString, QString> fields = decodedLikeAMailClient(QUrl::fromEncoded(encoded));
        QCOMPARE(fields.keys(), (QStringList{u"body"_s, u"subject"_s}));
        QCOMPARE(fields.value(u"subject"_s), subject);
        QCOMPARE(fields.value(u"body"_s), body);
    }

    void supportMailUrlNamesThisSystem()
    {
        const QString name = AppInfo::operatingSystemName();
        QVERIFY(!name.isEmpty());
        const QUrlQuery query(AppInfo::supportMailUrl());
        QCOMPARE(query.queryItemValue(u"body"_s, QUrl::FullyDecoded),
                 u"\n\n("_s + release() + u" on "_s + name + u')');
    }
};

QTEST_GUILESS_MAIN(TestAppInfo)
#include "tst_appinfo.moc"
