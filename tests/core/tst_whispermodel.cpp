#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/speech/modelselection.h"
#include "core/speech/whispermodel.h"
#include "testenvironment.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<WhisperModel>)

class TestWhisperModel final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;

private Q_SLOTS:
    void init() { m_environment = std::make_unique<TestEnvironment>(); }

    void catalog_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("rawValue");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("sizeLabel");
        QTest::addColumn<QString>("sha256");
        QTest::newRow("base.en") << int(WhisperModel::baseEn) << u"base.en"_s << u"ggml-base.en.bin"_s
                                 << u"Base (fast, English)"_s << u"142 MB"_s
                                 << u"a03779c86df3323075f5e796cb2ce5029f00ec8869eee3fdfb897afe36c6d002"_s;
        QTest::newRow("base") << int(WhisperModel::base) << u"base"_s << u"ggml-base.bin"_s
                              << u"Base (fast, multilingual)"_s << u"142 MB"_s
                              << u"60ed5bc3dd14eea856493d334349b405782ddcaf0028d4b5df4088345fba2efe"_s;
        QTest::newRow("small") << int(WhisperModel::small) << u"small"_s << u"ggml-small.bin"_s
                               << u"Small (balanced)"_s << u"466 MB"_s
                               << u"1be3a9b2063867b937e64e2ec7483364a79917e157fa98c5d94b5c1fffea987b"_s;
        QTest::newRow("large-v3") << int(WhisperModel::largeV3) << u"large-v3"_s << u"ggml-large-v3.bin"_s
                                  << u"Large v3 (most accurate)"_s << u"2.9 GB"_s
                                  << u"64d182b440b98d5203c4f9bd541544d84c605196c4f7b845dfa11fb23594d1e2"_s;
    }

    void catalog()
    {
        QFETCH(int, model);
        QFETCH(QString, rawValue);
        QFETCH(QString, fileName);
        QFETCH(QString, displayName);
        QFETCH(QString, sizeLabel);
        QFETCH(QString, sha256);
        const WhisperModel m(static_cast<WhisperModel::Case>(model));
        QCOMPARE(m.rawValue(), rawValue);
        QCOMPARE(m.fileName(), fileName);
        QCOMPARE(m.displayName(), displayName);
        QCOMPARE(m.sizeLabel(), sizeLabel);
        QCOMPARE(m.sha256(), sha256);
        // Without a test catalog the published digests are the ones enforced.
        QCOMPARE(ModelCatalog::expectedSha256(m), sha256);
        QCOMPARE(WhisperModel::fromRawValue(rawValue), std::optional(m));
        QCOMPARE(WhisperModel::fromFileName(fileName), std::optional(m));
        QCOMPARE(m.downloadUrl().toString(),
                 u"https://huggingface.co/ggerganov/whisper.cpp/resolve/main/"_s + fileName);
    }

    void allCasesInPickerOrder()
    {
        QCOMPARE(WhisperModel::allCases(), (QList<WhisperModel>{WhisperModel::baseEn, WhisperModel::base,
                                                                WhisperModel::small, WhisperModel::largeV3}));
    }

    void fromFileName_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<std::optional<WhisperModel>>("expected");
        QTest::newRow("large-v3") << u"ggml-large-v3.bin"_s << std::optional<WhisperModel>(WhisperModel::largeV3);
        QTest::newRow("base.en") << u"ggml-base.en.bin"_s << std::optional<WhisperModel>(WhisperModel::baseEn);
        QTest::newRow("not in the catalog") << u"ggml-medium.bin"_s << std::optional<WhisperModel>();
        QTest::newRow("no prefix") << u"base.en.bin"_s << std::optional<WhisperModel>();
        QTest::newRow("partial download") << u"ggml-small.bin.part"_s << std::optional<WhisperModel>();
        QTest::newRow("case differs") << u"ggml-Small.bin"_s << std::optional<WhisperModel>();
        QTest::newRow("prefix and suffix only") << u"ggml-.bin"_s << std::optional<WhisperModel>();
        QTest::newRow("empty") << QString() << std::optional<WhisperModel>();
    }

    void fromFileName()
    {
        QFETCH(QString, fileName);
        QFETCH(std::optional<WhisperModel>, expected);
        QCOMPARE(WhisperModel::fromFileName(fileName), expected);
    }

    void baseUrl_data()
    {
        QTest::addColumn<QByteArray>("baseVariable");
        QTest::addColumn<QByteArray>("endpointVariable");
        QTest::addColumn<QString>("expected");
        QTest::newRow("published") << QByteArray() << QByteArray()
                                   << u"https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-small.bin"_s;
        QTest::newRow("base replaced") << QByteArray("http://127.0.0.1:8080/models") << QByteArray("https://mirror.example")
                                       << u"http://127.0.0.1:8080/models/ggml-small.bin"_s;
        QTest::newRow("mirror host") << QByteArray() << QByteArray("https://mirror.example")
                                     << u"https://mirror.example/ggerganov/whisper.cpp/resolve/main/ggml-small.bin"_s;
        QTest::newRow("mirror with port and path") << QByteArray() << QByteArray("http://127.0.0.1:9000/hub/")
                                                   << u"http://127.0.0.1:9000/hub/ggerganov/whisper.cpp/resolve/main/ggml-small.bin"_s;
    }

    void baseUrl()
    {
        QFETCH(QByteArray, baseVariable);
        QFETCH(QByteArray, endpointVariable);
        QFETCH(QString, expected);
        if (!baseVariable.isEmpty())
            qputenv("MURMEL_MODEL_BASE_URL", baseVariable);
        if (!endpointVariable.isEmpty())
            qputenv("HF_ENDPOINT", endpointVariable);
        QCOMPARE(WhisperModel(WhisperModel::small).downloadUrl().toString(), expected);
    }

    void testCatalogReplacesOnlyWhatItLists()
    {
        const QString catalogPath = m_environment->home() + u"/catalog.json"_s;
        QFile catalog(catalogPath);
        QVERIFY(catalog.open(QIODevice::WriteOnly));
        catalog.write(R"({"base.en": "ABCDEF0123", "medium": "ffff"})");
        catalog.close();
        qputenv("MURMEL_MODEL_CATALOG", catalogPath.toLocal8Bit());
        QCOMPARE(ModelCatalog::expectedSha256(WhisperModel::baseEn), u"ABCDEF0123");
        QCOMPARE(ModelCatalog::expectedSha256(WhisperModel::small), WhisperModel(WhisperModel::small).sha256());
        // The published value itself never changes.
        QCOMPARE(WhisperModel(WhisperModel::baseEn).sha256(), u"a03779c86df3323075f5e796cb2ce5029f00ec8869eee3fdfb897afe36c6d002");

        qputenv("MURMEL_MODEL_CATALOG", QByteArray("/nonexistent/catalog.json"));
        QCOMPARE(ModelCatalog::expectedSha256(WhisperModel::baseEn), WhisperModel(WhisperModel::baseEn).sha256());
    }

    void modelRules_data()
    {
        QTest::addColumn<QString>("speed");       // empty: absent
        QTest::addColumn<QString>("language");    // empty: absent
        QTest::addColumn<QString>("whisperModel"); // empty: absent
        QTest::addColumn<QString>("dictation");
        QTest::addColumn<QString>("file");
        const QString fallback = PreferenceKeys::defaultWhisperModel();

        QTest::newRow("nothing stored") << QString() << QString() << QString() << u"small"_s << fallback;
        QTest::newRow("fast, English") << u"fast"_s << u"en"_s << QString() << u"base.en"_s << fallback;
        QTest::newRow("fast, German") << u"fast"_s << u"de"_s << QString() << u"small"_s << fallback;
        QTest::newRow("fast, auto") << u"fast"_s << u"auto"_s << QString() << u"small"_s << fallback;
        QTest::newRow("unknown speed is fast") << u"turbo"_s << u"en"_s << u"large-v3"_s << u"base.en"_s << u"large-v3"_s;
        QTest::newRow("fast ignores the file model") << u"fast"_s << u"de"_s << u"base"_s << u"small"_s << u"base"_s;
        QTest::newRow("accurate, large-v3, English") << u"accurate"_s << u"en"_s << u"large-v3"_s << u"large-v3"_s << u"large-v3"_s;
        QTest::newRow("accurate, large-v3, auto") << u"accurate"_s << u"auto"_s << u"large-v3"_s << u"large-v3"_s << u"large-v3"_s;
        QTest::newRow("accurate reuses base") << u"accurate"_s << u"fr"_s << u"base"_s << u"base"_s << u"base"_s;
        QTest::newRow("accurate, no file model") << u"accurate"_s << u"de"_s << QString() << fallback << fallback;
        QTest::newRow("accurate, medium, English") << u"accurate"_s << u"en"_s << u"medium"_s << u"base.en"_s << fallback;
        QTest::newRow("accurate, medium, German") << u"accurate"_s << u"de"_s << u"medium"_s << u"small"_s << fallback;
        QTest::newRow("language is matched exactly") << u"fast"_s << u"EN"_s << QString() << u"small"_s << fallback;
    }

    void modelRules()
    {
        QFETCH(QString, speed);
        QFETCH(QString, language);
        QFETCH(QString, whisperModel);
        QFETCH(QString, dictation);
        QFETCH(QString, file);
        Preferences preferences(m_environment->configHome() + u"/Murmel/preferences.json"_s);
        if (!speed.isEmpty())
            QVERIFY(preferences.setString(PreferenceKeys::dictationSpeed, speed));
        if (!language.isEmpty())
            QVERIFY(preferences.setString(PreferenceKeys::language, language));
        if (!whisperModel.isEmpty())
            QVERIFY(preferences.setString(PreferenceKeys::whisperModel, whisperModel));
        QCOMPARE(ModelSelection::dictationModel(preferences).rawValue(), dictation);
        QCOMPARE(ModelSelection::fileTranscriptionModel(preferences).rawValue(), file);
    }

    void defaultFileModelPerProcessor()
    {
#if defined(Q_PROCESSOR_ARM_64)
        QCOMPARE(ModelSelection::defaultFileModel(), WhisperModel(WhisperModel::small));
#else
        QCOMPARE(ModelSelection::defaultFileModel(), WhisperModel(WhisperModel::baseEn));
#endif
    }

    void languageChangeAppliesToTheNextChoice()
    {
        Preferences preferences(m_environment->configHome() + u"/Murmel/preferences.json"_s);
        QVERIFY(preferences.setString(PreferenceKeys::language, u"en"_s));
        QCOMPARE(ModelSelection::dictationModel(preferences), WhisperModel(WhisperModel::baseEn));
        QVERIFY(preferences.setString(PreferenceKeys::language, u"de"_s));
        QCOMPARE(ModelSelection::dictationModel(preferences), WhisperModel(WhisperModel::small));
    }
};

QTEST_GUILESS_MAIN(TestWhisperModel)
#include "tst_whispermodel.moc"
