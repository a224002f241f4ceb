#pragma once

#include "childprocess.h"
#include "desktopsession.h"
#include "fixturemodels.h"
#include "murmelprocess.h"
#include "secretservicesession.h"
#include "soundsession.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The real murmel on a test's private desktop: an X display with a window manager, a session
// bus, a PulseAudio virtual microphone, the test's server for models, updates and cleanup,
// and a home of its own whose dictation model (base.en: English, fast) is the parrot model.
// No proxy is passed on, so nothing leaves the machine. Each step returns false and says why
// in error(), so a test reports the first thing that went wrong.
class MurmelDesktop final
{
public:
    static inline const QString service = QStringLiteral("app.murmel.Murmel");

    explicit MurmelDesktop(SecretServiceSession::Keyring keyring = SecretServiceSession::Keyring::none)
        : bus(keyring)
    {}
    ~MurmelDesktop() { stop(); }

    QString error() const { return m_error; }
    QString file(const QString &name) const { return folder.filePath(name); }
    QString modelPath() const { return file(QStringLiteral("data/Murmel/Models/ggml-base.en.bin")); }

    // Starts the sessions, joins the test to the bus, and writes the speech and the model.
    bool start()
    {
        if (!bus.start() || !desktop.start() || !sound.start())
            return fail(bus.error() + desktop.error() + sound.error());
        bus.enter();
        return (server.listen() || fail(QStringLiteral("no local server")))
            && say(speech, QStringLiteral("Please write this down for me."))
            && (FixtureModels::make(parrot) || fail(QStringLiteral("makemodel failed")));
    }

    bool say(const QString &wav, const QString &words)
    {
        return QProcess::execute(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), wav, words}) == 0
            || fail(QStringLiteral("espeak-ng failed"));
    }

    // A fresh home: the model in place and known to the catalog, English, nothing else stored,
    // and no model to be downloaded.
    bool reset(bool onboarded = true)
    {
        for (const QString &name : {file(QStringLiteral("config")), file(QStringLiteral("data"))}) {
            if (!QDir(name).removeRecursively())
                return fail(QStringLiteral("cannot clear ") + name);
        }
        QJsonObject digests;
        for (const char *name : {"base.en", "base", "small", "large-v3"})
            digests.insert(QString::fromLatin1(name), FixtureModels::sha256Of(parrot));
        server.setResponse(modelUrl, {.status = 404});
        return ((QDir().mkpath(QFileInfo(modelPath()).absolutePath()) && QFile::copy(parrot, modelPath()))
                || fail(QStringLiteral("cannot place the model")))
            && (FixtureModels::useCatalog(file(QStringLiteral("catalog.json")), digests) || fail(QStringLiteral("no catalog")))
            && config(QStringLiteral("language"), QStringLiteral("\"en\""))
            && config(QStringLiteral("hasOnboarded"), onboarded ? QStringLiteral("true") : QStringLiteral("false"));
    }

    // Lets Murmel download the model it misses from the test's server.
    void serveModel() { server.setResponse(modelUrl, {.body = TestFiles::read(parrot)}); }

    bool config(const QString &key, const QString &json)
    {
        const MurmelProcess::Result set =
            MurmelProcess::murmel({QStringLiteral("config"), QStringLiteral("set"), key, json}, environment());
        return set.exitCode == 0
            || fail(QStringLiteral("murmel config set %1: exit code %2, %3").arg(key).arg(set.exitCode).arg(set.err));
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment variables = desktop.environment();
        for (const char *name : TestEnvironment::elsewhere)
            variables.remove(QString::fromLatin1(name));
        variables.remove(QStringLiteral("QT_QTESTLIB_RUNNING"));
        variables.insert(bus.environment());
        variables.insert(sound.environment());
        const auto at = [this](const char *path) { return server.url(QString::fromLatin1(path)).toString(); };
        variables.insert(QStringLiteral("XDG_CONFIG_HOME"), file(QStringLiteral("config")));
        variables.insert(QStringLiteral("XDG_DATA_HOME"), file(QStringLiteral("data")));
        variables.insert(QStringLiteral("MURMEL_MODEL_CATALOG"), file(QStringLiteral("catalog.json")));
        variables.insert(QStringLiteral("MURMEL_MODEL_BASE_URL"), at("/models/"));
        variables.insert(QStringLiteral("MURMEL_UPDATE_URL"), at("/latest.json"));
        variables.insert(QStringLiteral("ANTHROPIC_BASE_URL"), at("/anthropic"));
        variables.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return variables;
    }

    // Starts Murmel and waits for its bus name (taken last at start-up, so the hotkey is
    // watched by then) and its main window. With `keepOutput` its output is kept for the test
    // to read instead of passed through.
    bool launch(const QProcessEnvironment &extra = {}, bool keepOutput = false)
    {
        stop();
        murmel = std::make_unique<QProcess>();
        murmel->setProcessChannelMode(keepOutput ? QProcess::MergedChannels : QProcess::ForwardedChannels);
        QProcessEnvironment variables = environment();
        variables.insert(extra);
        desktop.launch(*murmel, MurmelProcess::binary(), {}, variables);
        // A Murmel that ends at start-up is reported at once, not after the whole wait.
        const auto ended = [this] { return murmel->state() == QProcess::NotRunning; };
        if (!QTest::qWaitFor([&] { return ended() || bus.hasName(service); }, 20000) || ended())
            return fail(QStringLiteral("Murmel did not take its bus name: ") + murmel->errorString());
        return QTest::qWaitFor([this] { return !(window = visibleWindow(QStringLiteral("^Murmel$"))).isEmpty(); }, 20000)
            || fail(QStringLiteral("Murmel's window did not show"));
    }

    // Not QTRY: after a failed case that would not wait at all, and the next case's Murmel
    // would hand its launch to this one as it goes away.
    bool stop()
    {
        if (murmel)
            ChildProcess::stop(*murmel);
        murmel.reset();
        return QTest::qWaitFor([this] { return !bus.hasName(service); }, 10000)
            || fail(QStringLiteral("the bus name outlived Murmel"));
    }

    // The id of the first visible window whose title matches, empty when there is none.
    QString visibleWindow(const QString &title) const
    {
        int code = -1;
        const QStringList search{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title};
        const QString found = desktop.run(QStringLiteral("xdotool"), search, &code);
        return code == 0 ? found.split(u'\n', Qt::SkipEmptyParts).value(0) : QString();
    }

    QJsonArray history() const
    {
        return QJsonDocument::fromJson(TestFiles::read(file(QStringLiteral("data/Murmel/History/history.json")))).array();
    }

    SecretServiceSession bus;
    DesktopSession desktop;
    SoundSession sound;
    TestHttpServer server;
    QTemporaryDir folder;
    const QString speech = file(QStringLiteral("speech.wav")); // espeak-ng saying a sentence
    const QString parrot = file(QStringLiteral("parrot.bin")); // the model file
    std::unique_ptr<QProcess> murmel;
    QString window; // the main window's X id, once launched

private:
    static inline const QString modelUrl = QStringLiteral("/models/ggml-base.en.bin");

    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }

    QString m_error;
};
