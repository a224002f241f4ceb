// The permission rows' flags: each follows its own probe, refresh() signals only what
// changed, and a grant request asks before reading again.
#include "gui/viewmodels/permissions.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPermissions final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachFlagFollowsItsProbe_data()
    {
        QTest::addColumn<bool>("microphone");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<bool>("hotkey");
        for (int bits = 0; bits < 8; ++bits)
            QTest::addRow("mic=%d paste=%d hotkey=%d", bits & 1, (bits >> 1) & 1, (bits >> 2) & 1)
                << bool(bits & 1) << bool(bits & 2) << bool(bits & 4);
    }

    void eachFlagFollowsItsProbe()
    {
        QFETCH(bool, microphone);
        QFETCH(bool, paste);
        QFETCH(bool, hotkey);
        bool mic = false, pst = false, hot = false;
        Permissions permissions({[&] { return mic; }, [&] { return pst; }, [&] { return hot; }});
        QSignalSpy micChanged(&permissions, &Permissions::microphoneAvailableChanged);
        QSignalSpy pasteChanged(&permissions, &Permissions::pasteAvailableChanged);
        QSignalSpy hotkeyChanged(&permissions, &Permissions::hotkeyActiveChanged);

        mic = microphone;
        pst = paste;
        hot = hotkey;
        permissions.refresh();
        QCOMPARE(permissions.microphoneAvailable(), microphone);
        QCOMPARE(permissions.pasteAvailable(), paste);
        QCOMPARE(permissions.hotkeyActive(), hotkey);
        QCOMPARE(micChanged.count(), int(microphone));
        QCOMPARE(pasteChanged.count(), int(paste));
        QCOMPARE(hotkeyChanged.count(), int(hotkey));

        // Asking again with nothing changed signals nothing.
        permissions.refresh();
        QCOMPARE(micChanged.count() + pasteChanged.count() + hotkeyChanged.count(),
                 int(microphone) + int(paste) + int(hotkey));
    }

    void readsAtConstructionAndTreatsMissingProbesAsNo()
    {
        Permissions known({[] { return true; }, [] { return true; }, {}});
        QVERIFY(known.microphoneAvailable());
        QVERIFY(known.pasteAvailable());
        QVERIFY(!known.hotkeyActive());
    }

    void grantAsksThenReadsAgain()
    {
        bool hot = false;
        QStringList asked;
        Permissions permissions({{}, {}, [&] { return hot; }, [&](const QString &which) {
                                     asked << which;
                                     hot = which == u"hotkey"_s;
                                 }});
        QSignalSpy changed(&permissions, &Permissions::hotkeyActiveChanged);
        permissions.grant(u"paste"_s);
        QVERIFY(!permissions.hotkeyActive());
        permissions.grant(u"hotkey"_s);
        QVERIFY(permissions.hotkeyActive());
        QCOMPARE(asked, (QStringList{u"paste"_s, u"hotkey"_s}));
        QCOMPARE(changed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPermissions)
#include "tst_permissions.moc"
