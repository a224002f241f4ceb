#pragma once

#include "childprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QTest>

// Runs tests/tools/textwindow (its path in MURMEL_TEXTWINDOW) on a test display and collects
// what it reports: the field's text after each change, every key press, and whether it has
// the focus. The window dies with the test however it ends, and stops with this object.
class TextWindowProcess
{
public:
    struct Key
    {
        QString key;
        QStringList modifiers;
    };

    // On the X display of `environment`.
    explicit TextWindowProcess(QProcessEnvironment environment)
    {
        // The tests run with the offscreen platform; the window belongs on the display.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // Set by Qt Test for its own process; an application that inherits it keeps its
        // widgets off the accessibility bus.
        environment.remove(QStringLiteral("QT_QTESTLIB_RUNNING"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ChildProcess::dieWithParent(m_process);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] { readLines(); });
    }
    ~TextWindowProcess() { ChildProcess::stop(m_process); }

    TextWindowProcess(const TextWindowProcess &) = delete;
    TextWindowProcess &operator=(const TextWindowProcess &) = delete;

    static QString program() { return qEnvironmentVariable("MURMEL_TEXTWINDOW"); }

    // Starts the window and waits until it is the active one: on a loaded machine a window
    // manager still busy with a burst of keymap changes can take half a minute to manage it.
    bool start(const QStringList &arguments = {})
    {
        m_process.start(program(), QStringList{QStringLiteral("--activate")} + arguments);
        return QTest::qWaitFor([this] { return m_window != 0 || m_process.state() == QProcess::NotRunning; }, 30000)
            && m_window != 0;
    }

    quint64 window() const { return m_window; }
    QString text() const { return m_text; }
    QList<Key> keys() const { return m_keys; }
    bool isActive() const { return m_active; }

    // Waits, with the event loop turning, until the field holds exactly `expected`.
    bool waitForText(const QString &expected, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return m_text == expected; }, timeoutMs);
    }

protected:
    QProcess m_process;

private:
    void readLines()
    {
        while (m_process.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(m_process.readLine()).object();
            const QString kind = event.value(u"event").toString();
            if (kind == u"ready")
                m_window = quint64(event.value(u"window").toInteger());
            else if (kind == u"active")
                m_active = event.value(u"active").toBool();
            else if (kind == u"text")
                m_text = event.value(u"text").toString();
            else if (kind == u"key")
                m_keys.append({event.value(u"key").toString(), event.value(u"modifiers").toVariant().toStringList()});
        }
    }

    quint64 m_window = 0;
    bool m_active = false;
    QString m_text;
    QList<Key> m_keys;
};
