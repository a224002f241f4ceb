// Announcements reach a screen reader's ears: the application side runs in child processes
// (this executable with --announce) under Xvfb with Qt's accessibility bridge, and the test
// listens on the accessibility bus as a screen reader would.
#include "childprocess.h"
#include "desktopsession.h"
#include "platform/session/atspiannouncer.h"
#include "secretservicesession.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

// The application side: a window, Qt's bridge on the accessibility bus when accessibility is
// on, and the announcements of the arguments every 100 ms until the test stops it.
int announceInChild(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QWindow window;
    window.resize(200, 100);
    window.show();
    const QStringList texts = app.arguments().mid(app.arguments().indexOf(u"--announce"_s) + 1);
    AtspiAnnouncer announcer;
    QTimer repeat;
    QObject::connect(&repeat, &QTimer::timeout, &app, [&] {
        for (const QString &text : texts)
            announcer.announce(text);
    });
    repeat.start(100);
    return app.exec();
}

} // namespace

class TestAnnouncer : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void announcement(const QDBusMessage &message)
    {
        QCOMPARE(message.signature(), u"siiva{sv}"_s);
        m_heard << u"%1 (politeness %2)"_s.arg(message.arguments().at(3).value<QDBusVariant>().variant().toString())
                       .arg(message.arguments().at(1).toInt());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        QVERIFY2(m_desktop.start(), qPrintable(m_desktop.error()));
        QVERIFY(m_session.startAccessibilityBus(m_launcher));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(u"screen-reader"_s);
        ChildProcess::stop(m_accessible);
        ChildProcess::stop(m_inaccessible);
        ChildProcess::stop(m_launcher);
    }

    // Of two applications announcing, the one without accessibility is never heard:
    // announcing must not switch accessibility on by itself.
    void aScreenReaderHearsTheAccessibleApplication()
    {
        const QDBusReply<QString> address = m_session.connection().call(
            QDBusMessage::createMethodCall(u"org.a11y.Bus"_s, u"/org/a11y/bus"_s, u"org.a11y.Bus"_s, u"GetAddress"_s));
        QVERIFY2(address.isValid(), qPrintable(address.error().message()));
        QDBusConnection reader = QDBusConnection::connectToBus(address.value(), u"screen-reader"_s);
        QVERIFY(reader.connect(QString(), QString(), u"org.a11y.atspi.Event.Object"_s, u"Announcement"_s, this,
                               SLOT(announcement(QDBusMessage))));

        startChild(m_inaccessible, {u"Transcribing"_s}, false);
        startChild(m_accessible, {u"Listening"_s, u"Ready for clipboard safe insert"_s}, true);
        QTRY_VERIFY_WITH_TIMEOUT(m_heard.size() >= 2, 15000);
        QCOMPARE(m_heard.mid(0, 2),
                 (QStringList{u"Listening (politeness 1)"_s, u"Ready for clipboard safe insert (politeness 1)"_s}));
        // Both announce every 100 ms, the one without accessibility since before the other started.
        QTest::qWait(500);
        QCOMPARE(m_inaccessible.state(), QProcess::Running);
        QVERIFY2(!m_heard.join(u'\n').contains(u"Transcribing"_s), qPrintable(m_heard.join(u'\n')));
    }

private:
    void startChild(QProcess &child, const QStringList &texts, bool accessibility)
    {
        QProcessEnvironment environment = m_desktop.environment();
        environment.insert(m_session.environment());
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        if (accessibility)
            environment.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
        child.setProcessEnvironment(environment);
        ChildProcess::dieWithParent(child);
        child.start(QCoreApplication::applicationFilePath(), QStringList{u"--announce"_s} + texts);
    }

    SecretServiceSession m_session{SecretServiceSession::Keyring::none};
    DesktopSession m_desktop{DesktopSession::WindowManager::none};
    QProcess m_launcher;
    QProcess m_accessible;
    QProcess m_inaccessible;
    QStringList m_heard;
};

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--announce") == 0)
            return announceInChild(argc, argv);
    }
    QCoreApplication app(argc, argv);
    TestAnnouncer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_announcer.moc"
