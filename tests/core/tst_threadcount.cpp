#include "core/base/whisperlanguage.h"
#include "core/speech/cputopology.h"
#include "core/speech/transcriber.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<int>)

// The engine's thread count from the processor's cores, and the language table it uses.
class TestThreadCount final : public QObject
{
    Q_OBJECT

private:
    static void write(const QString &path, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private Q_SLOTS:
    void rule_data()
    {
        QTest::addColumn<std::optional<int>>("performance");
        QTest::addColumn<std::optional<int>>("physical");
        QTest::addColumn<int>("active");
        QTest::addColumn<int>("plain");
        QTest::addColumn<int>("reserved");
        const std::optional<int> none;
        QTest::newRow("performance cores win") << std::optional(6) << std::optional(10) << 16 << 6 << 5;
        QTest::newRow("physical cores next") << none << std::optional(8) << 16 << 8 << 7;
        QTest::newRow("six processors, nothing known") << none << none << 6 << 4 << 3;
        QTest::newRow("sixteen processors, nothing known") << none << none << 16 << 8 << 7;
        QTest::newRow("eight processors") << none << none << 8 << 4 << 3;
        QTest::newRow("one core keeps two") << none << std::optional(1) << 1 << 1 << 2;
        QTest::newRow("two cores keep two") << none << std::optional(2) << 2 << 2 << 2;
        QTest::newRow("three cores") << none << std::optional(3) << 3 << 3 << 2;
        QTest::newRow("zero counts as absent") << std::optional(0) << std::optional(0) << 10 << 5 << 4;
    }

    void rule()
    {
        QFETCH(std::optional<int>, performance);
        QFETCH(std::optional<int>, physical);
        QFETCH(int, active);
        QFETCH(int, plain);
        QFETCH(int, reserved);
        QCOMPARE(Transcriber::threadCountFor(performance, physical, active, false), plain);
        QCOMPARE(Transcriber::threadCountFor(performance, physical, active, true), reserved);
    }

    void sysfsOfAHybridProcessor()
    {
        QTemporaryDir root;
        write(root.path() + u"/devices/cpu_core/cpus"_s, "0-7,16-19\n");
        // Two hyper-threads of one core count once; a CPU without topology (offline) not at all.
        write(root.path() + u"/devices/system/cpu/cpu0/topology/physical_package_id"_s, "0\n");
        write(root.path() + u"/devices/system/cpu/cpu0/topology/core_id"_s, "0\n");
        write(root.path() + u"/devices/system/cpu/cpu1/topology/physical_package_id"_s, "0\n");
        write(root.path() + u"/devices/system/cpu/cpu1/topology/core_id"_s, "0\n");
        write(root.path() + u"/devices/system/cpu/cpu2/topology/physical_package_id"_s, "0\n");
        write(root.path() + u"/devices/system/cpu/cpu2/topology/core_id"_s, "1\n");
        write(root.path() + u"/devices/system/cpu/cpu3/topology/physical_package_id"_s, "1\n");
        write(root.path() + u"/devices/system/cpu/cpu3/topology/core_id"_s, "0\n");
        QDir().mkpath(root.path() + u"/devices/system/cpu/cpu4"_s);
        write(root.path() + u"/devices/system/cpu/cpufreq/core_id"_s, "9\n");
        QCOMPARE(CpuTopology::performanceCores(root.path()), std::optional(12));
        QCOMPARE(CpuTopology::physicalCores(root.path()), std::optional(3));
    }

    void sysfsWithoutInformation()
    {
        QTemporaryDir root;
        QCOMPARE(CpuTopology::performanceCores(root.path()), std::nullopt);
        QCOMPARE(CpuTopology::physicalCores(root.path()), std::nullopt);
        write(root.path() + u"/devices/cpu_core/cpus"_s, "garbage\n");
        QCOMPARE(CpuTopology::performanceCores(root.path()), std::nullopt);
        write(root.path() + u"/devices/cpu_core/cpus"_s, "3-1\n");
        QCOMPARE(CpuTopology::performanceCores(root.path()), std::nullopt);
    }

    void thisMachine()
    {
        const int count = Transcriber::optimalThreadCount();
        QVERIFY(count >= 1);
        Transcriber::reserveCoreForUI = true;
        QVERIFY(Transcriber::optimalThreadCount() >= 2);
        Transcriber::reserveCoreForUI = false;
    }

    void languageTable()
    {
        const QList<WhisperLanguage> all = WhisperLanguage::allCases();
        QCOMPARE(all.size(), 100);
        QCOMPARE(all.first().rawValue(), u"auto"_s);
        QCOMPARE(all.at(1).rawValue(), u"en"_s);
        QCOMPARE(all.at(1).name(), u"english"_s);
        QCOMPARE(all.last().rawValue(), u"su"_s);
        QCOMPARE(all.last().name(), u"sundanese"_s);
        QCOMPARE(WhisperLanguage::fromRawValue(u"iw")->name(), u"hebrew"_s);
        // whisper.cpp spells Hebrew "he".
        QCOMPARE(WhisperLanguage::fromRawValue(u"iw")->engineCode(), QByteArray("he"));
        QCOMPARE(WhisperLanguage::fromRawValue(u"de")->engineCode(), QByteArray("de"));
        QCOMPARE(WhisperLanguage::fromRawValue(u"xx"), std::nullopt);
        QCOMPARE(WhisperLanguage::fromRawValue(u"he"), std::nullopt);
        QCOMPARE(WhisperLanguage::fromRawValue(u"EN"), std::nullopt);
        QSet<QString> codes;
        for (const WhisperLanguage &language : all)
            codes.insert(language.rawValue());
        QCOMPARE(codes.size(), 100);
    }

    void paramsLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QByteArray>("engine");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("auto") << u"auto"_s << QByteArray("auto") << u"auto"_s;
        QTest::newRow("German") << u"de"_s << QByteArray("de") << u"de"_s;
        QTest::newRow("Hebrew") << u"iw"_s << QByteArray("he") << u"iw"_s;
        QTest::newRow("Hawaiian") << u"haw"_s << QByteArray("haw") << u"haw"_s;
    }

    void paramsLanguage()
    {
        QFETCH(QString, code);
        QFETCH(QByteArray, engine);
        QFETCH(QString, readBack);
        WhisperParams params;
        params.setLanguage(*WhisperLanguage::fromRawValue(code));
        QCOMPARE(QByteArray(params.raw().language), engine);
        QCOMPARE(params.language().rawValue(), readBack);
        // A copy owns its own buffer.
        const WhisperParams copy = params;
        params.setLanguage(WhisperLanguage::automatic());
        QCOMPARE(QByteArray(copy.raw().language), engine);
        QVERIFY(copy.raw().language != params.raw().language);
    }

    void defaultsAreGreedy()
    {
        const WhisperParams params;
        QCOMPARE(params.raw().strategy, WHISPER_SAMPLING_GREEDY);
        QCOMPARE(QByteArray(params.raw().language), QByteArray("auto"));
        QCOMPARE(params.raw().translate, false);
    }
};

QTEST_GUILESS_MAIN(TestThreadCount)
#include "tst_threadcount.moc"
