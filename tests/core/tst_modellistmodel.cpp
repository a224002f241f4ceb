#include "core/speech/modellistmodel.h"
#include "core/speech/modelstore.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestModelListModel final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsFollowTheStore()
    {
        TestEnvironment environment;
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(512 * 1024, 'q');
        server.setResponse(u"/repo/ggml-base.bin"_s, {.body = body, .chunkSize = 64 * 1024, .chunkDelayMs = 10});
        qputenv("MURMEL_MODEL_BASE_URL", server.url(u"/repo/"_s).toString().toLocal8Bit());
        const QString catalog = environment.home() + u"/catalog.json"_s;
        QFile file(catalog);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{u"base"_s, QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex())}}).toJson());
        file.close();
        qputenv("MURMEL_MODEL_CATALOG", catalog.toLocal8Bit());

        ModelStore store(environment.dataHome() + u"/Murmel/Models"_s);
        ModelListModel list(store);
        QCOMPARE(list.rowCount(), 4);
        const QHash<int, QByteArray> roles = list.roleNames();
        QCOMPARE(roles.value(ModelListModel::StateRole), QByteArray("downloadState"));
        const QModelIndex base = list.index(1);
        QCOMPARE(list.data(base, ModelListModel::RawValueRole).toString(), u"base"_s);
        QCOMPARE(list.data(base, ModelListModel::DisplayNameRole).toString(), u"Base (fast, multilingual)"_s);
        QCOMPARE(list.data(base, ModelListModel::SizeLabelRole).toString(), u"142 MB"_s);
        QCOMPARE(list.data(base, ModelListModel::StateRole).toString(), u"missing"_s);
        QVERIFY(!list.data(list.index(4), ModelListModel::StateRole).isValid());

        QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
        list.download(u"base"_s);
        QCOMPARE(list.data(base, ModelListModel::StateRole).toString(), u"downloading"_s);
        list.download(u"medium"_s); // no such model: nothing happens
        QVERIFY(QTest::qWaitFor([&] { return store.downloading() == std::nullopt; }, 10000));
        QCOMPARE(list.data(base, ModelListModel::StateRole).toString(), u"ready"_s);
        QCOMPARE(changed.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestModelListModel)
#include "tst_modellistmodel.moc"
