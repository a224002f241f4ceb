#pragma once

#include <csignal>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTest>
#include <sys/prctl.h>

// Runs tests/tools/textwindow (its path in MURMEL_TEXTWINDOW) on a test display and collects
// what it reports: the field's text after each change and every key press. The window
// dies with the test however it ends, and is stopped by stop() and the destructor.
class TextWindowProcess final
{
public:
    struct Key
    {
        QString key;
        QStringList modifiers;
        QString text;
    };

    explicit TextWindowProcess(QProcessEnvironment environment)
    {
        // The tests run with the offscreen platform; the window belongs on the display.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // Set by Qt Test for its own process; an application that inherits it keeps its
        // widgets off the accessibility bus.
        environment.remove(QStringLiteral("QT_QTESTLIB_RUNNING"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this] { readLines(); });
    }
    ~TextWindowProcess() { stop(); }

    TextWindowProcess(const TextWindowProcess &) = delete;
    TextWindowProcess &operator=(const TextWindowProcess &) = delete;

    static QString program() { return qEnvironmentVariable("MURMEL_TEXTWINDOW"); }

    // Starts the window and waits until it is the active one.
    bool start(const QStringList &arguments = {}, int timeoutMs = 15000)
    {
        m_process.start(program(), arguments);
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        return QTest::qWaitFor(
                   [this] { return m_window != 0 || m_process.state() == QProcess::NotRunning; },
                   timeoutMs) &&
               m_window != 0;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    quint64 window() const { return m_window; }
    QString text() const { return m_text; }
    QList<Key> keys() const { return m_keys; }

    // Waits, with the event loop turning, until the field holds exactly `expected`.
    bool waitForText(const QString &expected, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return m_text == expected; }, timeoutMs);
    }

private:
    void readLines()
    {
        while (m_process.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(m_process.readLine()).object();
            const QString kind = event.value(QStringLiteral("event")).toString();
            if (kind == u"ready") {
                m_window = quint64(event.value(QStringLiteral("window")).toInteger());
            } else if (kind == u"text") {
                m_text = event.value(QStringLiteral("text")).toString();
            } else if (kind == u"key") {
                QStringList modifiers;
                for (const QJsonValue &modifier :
                     event.value(QStringLiteral("modifiers")).toArray())
                    modifiers << modifier.toString();
                m_keys.append({event.value(QStringLiteral("key")).toString(), modifiers,
                               event.value(QStringLiteral("text")).toString()});
            }
        }
    }

    QProcess m_process;
    quint64 m_window = 0;
    QString m_text;
    QList<Key> m_keys;
};
