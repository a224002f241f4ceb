// How fast each way of sending keys types a text into a real window, in characters per
// second, beside the reference tool for the same mechanism where one runs here (xdotool for
// XTEST, wtype for the wlroots virtual keyboard). The clock runs from the call until the
// window reports the whole text. Clipboard-safe insert is what types; a paste is one chord.
//
//   typingspeed TEXTWINDOW [RUNS]
#include "desktopsession.h"
#include "waylandsession.h"

#include "core/desktop/keyboardinjector.h"
#include "platform/portal/portalkeyboardinjector.h"
#include "platform/wayland/fakeinputinjector.h"
#include "platform/wayland/virtualkeyboardinjector.h"
#include "platform/wayland/waylandconnection.h"
#include "platform/x11/x11keyboardinjector.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

// The layout's own characters, which every mechanism can type, and a line beyond them.
const QString plain = QStringLiteral("The quarterly report is due on Friday, so please send your numbers by "
                                     "Wednesday noon. Thanks, and see you at the review (room 4B)!");
const QString unicode = QStringLiteral("Grüße aus Köln: naïve café, 日本語のテキスト, Ελληνικά, ✓ done.");

// tests/tools/textwindow, started by whoever owns the session; it reports the field's text.
class Window final
{
public:
    explicit Window(const std::function<void(QProcess &)> &launch)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            while (m_process.canReadLine()) {
                const QJsonObject event = QJsonDocument::fromJson(m_process.readLine()).object();
                m_ready = m_ready || event.value(u"event").toString() == u"ready";
                if (event.value(u"event").toString() == u"text")
                    m_text = event.value(u"text").toString();
            }
        });
        launch(m_process);
        m_ready = QTest::qWaitFor([this] { return m_ready; }, 15000);
    }
    ~Window()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    bool ready() const { return m_ready; }
    QString text() const { return m_text; }

private:
    QProcess m_process;
    bool m_ready = false;
    QString m_text;
};

// Characters per second for one typing run, or 0 when the text did not arrive whole.
double measure(Window &window, const QString &text, const std::function<void()> &type)
{
    const QString before = window.text();
    QElapsedTimer clock;
    clock.start();
    type();
    if (!QTest::qWaitFor([&] { return window.text() == before + text; }, 120000))
        return 0.0;
    return double(text.size()) / (double(clock.nsecsElapsed()) / 1e9);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

void report(const char *mechanism, const char *text, const std::vector<double> &ours,
            const char *reference = nullptr, const std::vector<double> &theirs = {})
{
    std::printf("%-34s %-8s %8.0f chars/s", mechanism, text, median(ours));
    if (reference)
        std::printf("   %-8s %8.0f chars/s   ratio %.2f", reference, median(theirs),
                    median(theirs) > 0 ? median(ours) / median(theirs) : 0.0);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString textWindow = app.arguments().value(1);
    const int runs = std::max(1, app.arguments().value(2, QStringLiteral("3")).toInt());
    const QProcessEnvironment xcb = [] {
        QProcessEnvironment variables;
        variables.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return variables;
    }();

    {
        DesktopSession desktop;
        if (desktop.start()) {
            desktop.enter();
            X11KeyboardInjector xtest;
            Window window([&](QProcess &process) {
                QProcessEnvironment variables = desktop.environment();
                variables.insert(xcb);
                process.setProcessEnvironment(variables);
                process.start(textWindow, {});
            });
            for (const QString &text : {plain, unicode}) {
                std::vector<double> ours, theirs;
                for (int run = 0; run < runs; ++run) {
                    ours.push_back(measure(window, text, [&] { QCoro::waitFor(xtest.type(text)); }));
                    theirs.push_back(measure(window, text, [&] {
                        desktop.run(QStringLiteral("xdotool"), {QStringLiteral("type"), text});
                    }));
                }
                report("XTEST (X11)", text == plain ? "layout" : "unicode", ours, "xdotool", theirs);
            }
        }
    }

    const auto wayland = [&](WaylandSession::Compositor compositor, const char *name,
                             const std::function<std::unique_ptr<KeyboardInjector>(WaylandConnection &)> &make,
                             bool typesUnicode, const QString &reference) {
        WaylandSession session(compositor);
        if (!session.start()) {
            std::printf("%-34s not measured: %s\n", name, qPrintable(session.error()));
            return;
        }
        session.enter();
        WaylandConnection connection;
        const std::unique_ptr<KeyboardInjector> injector = make(connection);
        QProcessEnvironment native;
        native.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        Window window([&](QProcess &process) { session.launch(process, textWindow, {}, native); });
        if (!window.ready() || !injector || !injector->isTrusted()) {
            std::printf("%-34s not measured: no window or no keys\n", name);
            return;
        }
        for (const QString &text : typesUnicode ? QStringList{plain, unicode} : QStringList{plain}) {
            std::vector<double> ours, theirs;
            for (int run = 0; run < runs; ++run) {
                ours.push_back(measure(window, text, [&] { QCoro::waitFor(injector->type(text)); }));
                if (!reference.isEmpty())
                    theirs.push_back(measure(window, text, [&] { session.run(reference, {text}); }));
            }
            report(name, text == plain ? "layout" : "unicode", ours,
                   reference.isEmpty() ? nullptr : qPrintable(reference), theirs);
        }
    };

    wayland(WaylandSession::Compositor::sway, "virtual keyboard (sway)",
            [](WaylandConnection &connection) { return std::make_unique<VirtualKeyboardInjector>(connection); },
            true, QStringLiteral("wtype"));
    wayland(WaylandSession::Compositor::kwin, "fake input (KWin)",
            [](WaylandConnection &connection) { return std::make_unique<FakeInputInjector>(connection); }, false,
            QString());
    // GNOME's path through a stand-in portal that forwards to mutter's own remote desktop.
    wayland(
        WaylandSession::Compositor::mutter, "RemoteDesktop portal (mutter)",
        [&](WaylandConnection &) -> std::unique_ptr<KeyboardInjector> {
            static QProcess portal;
            const QString mock = qEnvironmentVariable("MURMEL_REMOTE_DESKTOP_MOCK");
            portal.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
            portal.start(QStringLiteral("/usr/bin/python3"),
                         {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"), mock});
            QDBusConnection bus = QDBusConnection::sessionBus();
            if (!QTest::qWaitFor(
                    [&] {
                        return bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop"));
                    },
                    10000))
                return nullptr;
            auto keys = std::make_unique<PortalKeyboardInjector>(bus, PortalKeyboardInjector::Grant{});
            QCoro::waitFor(keys->openSession(true));
            return keys;
        },
        false, QString());
    return 0;
}
