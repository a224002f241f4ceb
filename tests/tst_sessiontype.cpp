#include "platform/sessiontype.h"

#include <QTest>

using Compositor = SessionType::Compositor;

Q_DECLARE_METATYPE(Compositor)

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

        const QStringList none;
        const QStringList kwin{u"wl_seat"_qs, u"org_kde_kwin_fake_input"_qs, u"zwlr_data_control_manager_v1"_qs,
                               u"zwlr_layer_shell_v1"_qs};
        const QStringList mutter{u"wl_seat"_qs, u"gtk_shell1"_qs};
        const QStringList sway{u"wl_seat"_qs, u"zwlr_layer_shell_v1"_qs, u"zwp_virtual_keyboard_manager_v1"_qs,
                               u"org_kde_kwin_server_decoration_manager"_qs, u"org_kde_kwin_idle"_qs};

        QTest::newRow("X11") << QStringList{u"XDG_SESSION_TYPE=x11"_qs, u"DISPLAY=:0"_qs} << none << u"X11"_qs;
        QTest::newRow("nothing set") << none << none << u"X11"_qs;
        QTest::newRow("KWin by its interfaces, whatever the variables say")
            << QStringList{u"WAYLAND_DISPLAY=wayland-0"_qs, u"XDG_CURRENT_DESKTOP=sway"_qs} << kwin
            << u"Wayland (KWin)"_qs;
        QTest::newRow("Mutter") << QStringList{u"XDG_SESSION_TYPE=wayland"_qs} << mutter << u"Wayland (Mutter)"_qs;
        QTest::newRow("sway") << QStringList{u"WAYLAND_DISPLAY=wayland-1"_qs} << sway << u"Wayland (wlroots)"_qs;
        QTest::newRow("Plasma by its variable")
            << QStringList{u"WAYLAND_DISPLAY=wayland-0"_qs, u"XDG_CURRENT_DESKTOP=KDE"_qs} << none
            << u"Wayland (KWin)"_qs;
        QTest::newRow("Ubuntu's GNOME")
            << QStringList{u"XDG_SESSION_TYPE=wayland"_qs, u"XDG_CURRENT_DESKTOP=ubuntu:GNOME"_qs} << none
            << u"Wayland (Mutter)"_qs;
        QTest::newRow("Hyprland") << QStringList{u"WAYLAND_DISPLAY=wayland-1"_qs, u"HYPRLAND_INSTANCE_SIGNATURE=x"_qs}
                                  << none << u"Wayland (wlroots)"_qs;
        QTest::newRow("unknown compositor") << QStringList{u"WAYLAND_DISPLAY=wayland-1"_qs} << QStringList{u"wl_seat"_qs}
                                            << u"Wayland (other compositor)"_qs;
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
