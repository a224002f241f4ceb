// Announcements reach a screen reader's ears: the application side runs in a child process
// (this executable with --announce) under Xvfb with Qt's accessibility bridge, and the test
// listens on the accessibility bus as a screen reader would.
#include "childprocess.h"
#include "desktopsession.h"
#include "platform/session/atspiannouncer.h"
#include "secretservicesession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

const QString a11yBusName = QStringLiteral("org.a11y.Bus");

// The application side: a window, Qt's bridge on the accessibility bus, then the
// announcements of the arguments, one every 100 ms until the parent has heard them.
int announceInChild(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QWindow window;
    window.resize(200, 100);
    window.show();
    const QStringList texts = app.arguments().mid(app.arguments().indexOf(QStringLiteral("--announce")) + 1);
    AtspiAnnouncer announcer;
    QTimer repeat;
    QObject::connect(&repeat, &QTimer::timeout, &app, [&] {
        for (const QString &text : texts)
            announcer.announce(text);
    });
    repeat.start(100);
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    return app.exec();
}

} // namespace

class TestAnnouncer : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void announcement(const QDBusMessage &message)
    {
        QCOMPARE(message.signature(), QStringLiteral("siiva{sv}"));
        const QVariantList arguments = message.arguments();
        m_heard << qMakePair(arguments.at(3).value<QDBusVariant>().variant().toString(), arguments.at(1).toInt());
    }

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void aScreenReaderHearsTheText();
    void withoutAccessibilityNothingIsSentAndNothingBreaks();

private:
    QProcess *startChild(const QStringList &texts, bool accessibility);

    SecretServiceSession m_session{SecretServiceSession::Keyring::none};
    DesktopSession m_desktop{DesktopSession::WindowManager::none};
    QProcess m_launcher;
    QProcess *m_child = nullptr;
    QList<QPair<QString, int>> m_heard;
};

void TestAnnouncer::initTestCase()
{
    QVERIFY2(m_session.start(), qPrintable(m_session.error()));
    QVERIFY2(m_desktop.start(), qPrintable(m_desktop.error()));
}

QProcess *TestAnnouncer::startChild(const QStringList &texts, bool accessibility)
{
    m_child = new QProcess(this);
    QProcessEnvironment environment = m_desktop.environment();
    environment.insert(m_session.environment());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    if (accessibility)
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    m_child->setProcessEnvironment(environment);
    ChildProcess::dieWithParent(*m_child);
    m_child->start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--announce")} + texts);
    return m_child;
}

void TestAnnouncer::cleanup()
{
    if (m_child) {
        m_child->kill();
        m_child->waitForFinished();
        delete m_child;
        m_child = nullptr;
    }
}

void TestAnnouncer::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("screen-reader"));
    m_launcher.terminate();
    if (!m_launcher.waitForFinished(5000))
        m_launcher.kill();
    m_launcher.waitForFinished();
}

void TestAnnouncer::aScreenReaderHearsTheText()
{
    // The accessibility bus, as a desktop session starts it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(m_session.environment());
    m_launcher.setProcessEnvironment(environment);
    ChildProcess::dieWithParent(m_launcher);
    m_launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), {QStringLiteral("--launch-immediately")});
    QVERIFY(m_launcher.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_session.hasName(a11yBusName), 15000);

    QDBusConnection session = QDBusConnection::connectToBus(m_session.busAddress(), QStringLiteral("session-probe"));
    const QDBusReply<QString> address = session.call(QDBusMessage::createMethodCall(
        a11yBusName, QStringLiteral("/org/a11y/bus"), a11yBusName, QStringLiteral("GetAddress")));
    QDBusConnection::disconnectFromBus(QStringLiteral("session-probe"));
    QVERIFY2(address.isValid(), qPrintable(address.error().message()));

    QDBusConnection reader = QDBusConnection::connectToBus(address.value(), QStringLiteral("screen-reader"));
    QVERIFY(reader.isConnected());
    QVERIFY(reader.connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Object"),
                           QStringLiteral("Announcement"), this,
                           SLOT(announcement(QDBusMessage))));

    startChild({QStringLiteral("Listening"), QStringLiteral("Ready for clipboard safe insert")}, true);
    QTRY_VERIFY_WITH_TIMEOUT(m_heard.size() >= 2, 15000);
    QCOMPARE(m_heard.at(0).first, QStringLiteral("Listening"));
    QCOMPARE(m_heard.at(1).first, QStringLiteral("Ready for clipboard safe insert"));
    QCOMPARE(m_heard.at(0).second, 1); // polite
}

void TestAnnouncer::withoutAccessibilityNothingIsSentAndNothingBreaks()
{
    m_heard.clear();
    QProcess *child = startChild({QStringLiteral("Transcribing")}, false);
    QVERIFY(child->waitForStarted());
    // The child announces every 100 ms; a second is plenty for anything to arrive.
    QTest::qWait(1000);
    QCOMPARE(child->state(), QProcess::Running);
    QVERIFY(m_heard.isEmpty());
}

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
