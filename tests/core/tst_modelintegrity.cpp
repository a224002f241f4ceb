#include "core/speech/modelintegrity.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString emptyDigest = u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_s;

} // namespace

class TestModelIntegrity final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.path() + u'/' + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(content);
        return path;
    }

private Q_SLOTS:
    void digests_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one byte") << QByteArray("a");
        QTest::newRow("exactly one chunk") << QByteArray(1024 * 1024, 'x');
        QTest::newRow("one chunk and a byte") << QByteArray(1024 * 1024 + 1, 'y');
        QByteArray mixed;
        for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i)
            mixed.append(static_cast<char>((i * 7919) & 0xff));
        QTest::newRow("several chunks") << mixed;
    }

    void digests()
    {
        QFETCH(QByteArray, content);
        const QString path = write(u"model.bin"_s, content);
        const QString expected = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        QCOMPARE(ModelIntegrity::sha256(path), expected);
        QVERIFY(ModelIntegrity::verify(path, expected));
        QVERIFY(ModelIntegrity::verify(path, expected.toUpper()));
        QVERIFY(!ModelIntegrity::verify(path, emptyDigest == expected ? expected.left(63) + u'0' : emptyDigest));
    }

    void emptyFileMatchesOnlyTheEmptyDigest()
    {
        const QString path = write(u"empty.bin"_s, {});
        QVERIFY(ModelIntegrity::verify(path, emptyDigest));
        QVERIFY(!ModelIntegrity::verify(path, QString()));
        QVERIFY(!ModelIntegrity::verify(path, u"a03779c86df3323075f5e796cb2ce5029f00ec8869eee3fdfb897afe36c6d002"_s));
    }

    void missingOrUnreadableFails()
    {
        QVERIFY(!ModelIntegrity::verify(m_dir.path() + u"/missing.bin"_s, emptyDigest));
        // A folder opens but cannot be read: that is a failed check, not an empty file.
        QVERIFY(QDir(m_dir.path()).mkdir(u"folder.bin"_s));
        QVERIFY(!ModelIntegrity::verify(m_dir.path() + u"/folder.bin"_s, emptyDigest));
        QCOMPARE(ModelIntegrity::sha256(m_dir.path() + u"/folder.bin"_s), QString());
    }

    void expectedMustMatchWhole()
    {
        const QString path = write(u"abc.bin"_s, "abc");
        const QString digest = u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s;
        QVERIFY(ModelIntegrity::verify(path, digest));
        QVERIFY(!ModelIntegrity::verify(path, digest.left(32)));
        QVERIFY(!ModelIntegrity::verify(path, digest + u'0'));
        QVERIFY(!ModelIntegrity::verify(path, u' ' + digest));
    }
};

QTEST_GUILESS_MAIN(TestModelIntegrity)
#include "tst_modelintegrity.moc"
