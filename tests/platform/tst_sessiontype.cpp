#include "platform/session/sessiontype.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Which paths to the clipboard and the keys Murmel takes depends on this answer.
class TestSessionType final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classify_data()
    {
        QTest::addColumn<QStringList>("variables"); // NAME=value
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QString>("description");
        const QStringList kwin{u"wl_seat"_s, u"org_kde_kwin_fake_input"_s, u"zwlr_data_control_manager_v1"_s};
        // sway offers KDE's decoration and idle interfaces too.
        const QStringList sway{u"wl_seat"_s, u"zwlr_layer_shell_v1"_s, u"org_kde_kwin_server_decoration_manager"_s,
                               u"org_kde_kwin_idle"_s};
        QTest::newRow("nothing set") << QStringList() << QStringList() << u"X11"_s;
        QTest::newRow("KWin by its interfaces, whatever the variables say")
            << QStringList{u"WAYLAND_DISPLAY=wayland-0"_s, u"XDG_CURRENT_DESKTOP=sway"_s} << kwin << u"Wayland (KWin)"_s;
        QTest::newRow("Mutter by its interfaces, whatever the variables say")
            << QStringList{u"XDG_SESSION_TYPE=wayland"_s, u"XDG_CURRENT_DESKTOP=KDE"_s}
            << QStringList{u"wl_seat"_s, u"gtk_shell1"_s} << u"Wayland (Mutter)"_s;
        QTest::newRow("sway") << QStringList{u"WAYLAND_DISPLAY=wayland-1"_s} << sway << u"Wayland (wlroots)"_s;
        QTest::newRow("Plasma by its variable")
            << QStringList{u"WAYLAND_DISPLAY=wayland-0"_s, u"XDG_CURRENT_DESKTOP=KDE"_s} << QStringList()
            << u"Wayland (KWin)"_s;
        QTest::newRow("Ubuntu's GNOME")
            << QStringList{u"XDG_SESSION_TYPE=wayland"_s, u"XDG_CURRENT_DESKTOP=ubuntu:GNOME"_s} << QStringList()
            << u"Wayland (Mutter)"_s;
        QTest::newRow("unknown compositor") << QStringList{u"WAYLAND_DISPLAY=wayland-1"_s} << QStringList{u"wl_seat"_s}
                                            << u"Wayland (other compositor)"_s;
    }

    void classify()
    {
        QFETCH(QStringList, variables);
        QFETCH(QStringList, interfaces);
        QFETCH(QString, description);
        QProcessEnvironment environment;
        for (const QString &variable : variables)
            environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        QCOMPARE(SessionType::classify(environment, interfaces).description(), description);
    }
};

QTEST_GUILESS_MAIN(TestSessionType)
#include "tst_sessiontype.moc"
