// The main window over the application's objects, fakes only at the desktop's edge, drawn on
// a private X display where the shaders run: the shaders draw, onboarding walks with Return,
// every screen shows its text and its controls are named and reached with Tab, and the
// controls reach what they stand for.
#include "core/base/appinfo.h"
#include "core/base/loginitem.h"
#include "core/base/preferencekeys.h"
#include "core/dictation/hotkeyrecorder.h"
#include "core/hud/voice.h"
#include "core/speech/modellistmodel.h"
#include "core/text/customizationstore.h"
#include "dictationrig.h"
#include "fakes/fakemainwindowhost.h"
#include "fakes/fakespeechsynthesizer.h"
#include "fakes/fakeurlopener.h"
#include "gui/viewmodels/apikeyfield.h"
#include "gui/viewmodels/customizationlistmodel.h"
#include "gui/viewmodels/desktophotkey.h"
#include "gui/viewmodels/eyeegg.h"
#include "gui/viewmodels/filetranscriptionmodel.h"
#include "gui/viewmodels/historyviewmodel.h"
#include "gui/viewmodels/onboarding.h"
#include "gui/viewmodels/permissions.h"
#include "gui/viewmodels/settingsmodel.h"
#include "platform/portal/desktopappearance.h"
#include "platform/portal/filechooser.h"
#include "shell/fileopenrouter.h"
#include "shell/murcommands.h"
#include "shell/updatechecker.h"
#include "desktopsession.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QAccessible>
#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <QtQml/qqmlextensionplugin.h>

using namespace Qt::StringLiterals;

Q_IMPORT_QML_PLUGIN(MurmelPlugin)
Q_IMPORT_QML_PLUGIN(Murmel_ShellPlugin)


namespace {

// Every object under `root`, items and attached objects (tooltips, accessibility) alike.
QList<QObject *> everything(QObject *root)
{
    QList<QObject *> out{root};
    for (qsizetype i = 0; i < out.size(); ++i) {
        QList<QObject *> next = out.at(i)->children();
        if (auto *item = qobject_cast<QQuickItem *>(out.at(i)))
            next += QList<QObject *>(item->childItems().cbegin(), item->childItems().cend());
        for (QObject *child : next)
            if (!out.contains(child))
                out << child;
    }
    return out;
}

bool shown(const QQuickItem *item)
{
    while (item && item->isVisible())
        item = item->parentItem();
    return !item;
}

// What a person can read or hear under `root`, tooltips and accessible names too.
QStringList texts(QObject *root)
{
    QStringList found;
    for (QObject *object : everything(root)) {
        auto *item = qobject_cast<QQuickItem *>(object);
        if (!item)
            item = qobject_cast<QQuickItem *>(object->parent());
        if (item && !shown(item))
            continue;
        for (const char *name : {"text", "placeholderText", "displayText", "name", "description"}) {
            const QVariant value = object->property(name);
            if (value.typeId() == QMetaType::QString && !value.toString().isEmpty())
                found << value.toString();
        }
    }
    return found;
}

// The buttons, switches, pickers and fields a user can operate under `root`.
QList<QQuickItem *> controls(QQuickItem *root)
{
    QList<QQuickItem *> found;
    for (QObject *object : everything(root)) {
        auto *item = qobject_cast<QQuickItem *>(object);
        // A list's rows are one Tab stop, the list itself; buttons in popups are not on screen.
        if (!item || !shown(item) || !item->isEnabled() || !item->window() || item->inherits("QQuickItemDelegate")
            || item->property("readOnly").toBool())
            continue;
        if (item->inherits("QQuickAbstractButton") || item->inherits("QQuickComboBox")
            || item->inherits("QQuickTextField") || item->inherits("QQuickTextArea"))
            found << item;
    }
    return found;
}

} // namespace

class TestScreens final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    TestHttpServer m_server;
    const bool m_listening = m_server.listen();
    Preferences m_preferences{m_environment.configHome() + u"/Murmel/preferences.json"_s};
    DictationRig m_rig{m_preferences, m_environment.dataHome() + u"/Murmel/History/history.json"_s,
                       m_environment.dataHome() + u"/Murmel/Models"_s};
    Nav m_nav{nullptr};
    FileOpenRouter m_router;
    FakeMainWindowHost m_host;
    FakeUrlOpener m_urls;
    QStringList m_spoken;
    FakeSpeechSynthesizer m_synthesizer;
    Voice m_voice{m_synthesizer, m_preferences};
    FileChooser m_chooser;
    LoginItem m_loginItem{u"/usr/bin/murmel"_s};
    // No portal on this bus name: contrast and motion keep their defaults.
    DesktopAppearance m_appearance{QDBusConnection(u"none"_s)};
    UpdateChecker m_updates{m_server.url(u"/latest.json"_s), u"0.1.0"_s};
    MurCommands m_commands{{*m_rig.controller, m_nav, m_router, m_host, m_urls, m_updates}};
    ModelListModel m_modelList{m_rig.models};
    CustomizationStore m_customization{m_preferences};
    SettingsModel m_settings{{m_preferences, &m_rig.history, &m_rig.safeInsert, &m_loginItem, &m_nav, &m_rig.models,
                              &m_customization, [] { return u"Test Card (Vulkan)"_s; }}};
    DesktopHotkey m_desktopHotkey{m_rig.hotkeys, DesktopHotkey::Desktop::wlroots, nullptr};
    Permissions m_permissions{{[] { return true; }, [] { return true; }, [this] { return m_desktopHotkey.works(); }}};
    HotkeyRecorder m_recorder{m_rig.hotkeys, m_preferences, nullptr};
    ApiKeyField m_apiKey{m_rig.keychain};
    CustomizationListModel m_styles{m_customization, CustomizationListModel::List::styles};
    CustomizationListModel m_rules{m_customization, CustomizationListModel::List::rules};
    HistoryViewModels m_histories{m_rig.history, m_rig.clipboard};
    Onboarding m_onboarding{{m_preferences, m_permissions, m_settings, m_rig.models, {},
                             [this] { m_spoken << u"Murmel is ready."_s; }}};
    EyeEgg m_homeEgg{{[this](const QString &phrase) { m_spoken << phrase; }, {}}};
    EyeEgg m_aboutEgg{{[this](const QString &phrase) { m_spoken << phrase; }, {}}};
    FileTranscriptionModel m_fileModel{{m_rig.models, m_preferences, m_rig.history, m_rig.sounds, m_voice,
                                        m_rig.clipboard, m_rig.clickInserter, m_rig.activity}};
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;

public:
    explicit TestScreens(const DesktopSession &) {}

private:

    QQuickItem *find(const std::function<bool(QQuickItem *)> &match)
    {
        for (QObject *object : everything(m_window->contentItem())) {
            auto *item = qobject_cast<QQuickItem *>(object);
            if (item && shown(item) && item->window() == m_window && match(item))
                return item;
        }
        return nullptr;
    }
    QQuickItem *named(const QString &name) { return find([&](QQuickItem *i) { return i->objectName() == name; }); }
    QQuickItem *withText(const QString &text)
    {
        return find([&](QQuickItem *i) { return i->inherits("QQuickAbstractButton") && i->property("text") == text; });
    }
    // Whether the first item of `type` shows bluish pixels leaning to green (cyan, ice) and to
    // red (violet): the theme's gradients and shaders at work. The second grab has every
    // texture the first frame only requested (layers, effects).
    bool drawsCyanAndViolet(const char *type)
    {
        QQuickItem *item = find([&](QQuickItem *i) { return QByteArray(i->metaObject()->className()).startsWith(type); });
        if (!item)
            return false;
        m_window->grabWindow();
        const QImage image = m_window->grabWindow().convertToFormat(QImage::Format_RGB32);
        const QRect area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height())).toAlignedRect();
        int cyan = 0, violet = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb p = image.pixel(x, y);
                cyan += qBlue(p) > 150 && qGreen(p) > qRed(p) + 30;
                violet += qBlue(p) > 150 && qRed(p) > qGreen(p) + 10;
            }
        return cyan > 40 && violet > 40;
    }

    QQuickItem *showScreen(Nav::MurScreen screen, Nav::SettingsTab tab = Nav::SettingsTab::general)
    {
        m_nav.setSettingsTab(tab);
        m_nav.setScreen(screen);
        QTest::qWait(50);
        m_window->requestActivate();
        return QTest::qWaitForWindowActive(m_window) ? named(u"screenLoader"_s) : nullptr;
    }

    // Presses a control the way a keyboard user does, which works for controls scrolled away.
    void press(QQuickItem *item)
    {
        QVERIFY(item);
        item->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(m_window, Qt::Key_Space);
    }

    // Tab visits every control under `root` and they all have a name a screen reader can say.
    void checkReachableAndNamed(QQuickItem *root, const QString &where)
    {
        const QList<QQuickItem *> expected = controls(root);
        QVERIFY2(!expected.isEmpty(), qPrintable(where));
        QList<QQuickItem *> chain;
        root->forceActiveFocus();
        for (int i = 0; i < 200; ++i) {
            QTest::keyClick(m_window, Qt::Key_Tab);
            QQuickItem *focused = m_window->activeFocusItem();
            if (!focused || chain.contains(focused))
                break;
            chain << focused;
        }
        for (QQuickItem *control : expected) {
            const QString what = where + u": "_s + control->property("text").toString() + u' '
                                 + QString::fromLatin1(control->metaObject()->className());
            QVERIFY2(chain.contains(control), qPrintable(u"not reached by Tab, "_s + what));
            QVERIFY2(!QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).trimmed().isEmpty(),
                     qPrintable(u"nameless, "_s + what));
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_listening);
        qputenv("MURMEL_MODEL_BASE_URL", m_server.url(u"/models/"_s).toString().toUtf8());
        QQuickStyle::setStyle(u"Basic"_s);
        m_rig.hotkeys.start();
        exposeToQml(m_rig.controller.get(), &m_rig.models, &m_modelList, &m_recorder, &m_nav, &m_settings, &m_permissions,
                    &m_desktopHotkey, &m_apiKey, &m_histories, &m_onboarding, &m_commands, &m_updates, &m_appearance,
                    &m_fileModel, &m_chooser);
        QmlSingleton<CustomizationListModel, StylesSingleton>::setInstance(&m_styles);
        QmlSingleton<CustomizationListModel, DictionaryRulesSingleton>::setInstance(&m_rules);
        QmlSingleton<EyeEgg, HomeEggSingleton>::setInstance(&m_homeEgg);
        QmlSingleton<EyeEgg, AboutEggSingleton>::setInstance(&m_aboutEgg);

        QTest::failOnWarning(QRegularExpression(u".*"_s));
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->addImportPath(u"qrc:/"_s);
        m_engine->load(QUrl(u"qrc:/Murmel/Shell/Main.qml"_s));
        QCOMPARE(m_engine->rootObjects().size(), 1);
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        QVERIFY(m_window && QTest::qWaitForWindowExposed(m_window));
    }

    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void cleanupTestCase() { m_engine.reset(); }

    // Each step of the first run with its text and its controls, walked with Return.
    void onboardingWalksWithReturn()
    {
        QCOMPARE(m_window->title(), u"Murmel"_s);
        QVERIFY(m_onboarding.isShowing());
        QVERIFY(!named(u"homeView"_s));
        // The welcome step draws the chrome title's gradient and the glow's shader colours.
        QVERIFY(QTest::qWaitFor([this] { return drawsCyanAndViolet("ChromeText") && drawsCyanAndViolet("NebulaCore"); }, 5000));
        const QStringList steps = {u"Murmel is ready."_s, u"So Murmel can hear you dictate."_s,
                                   u"Download Small (balanced)"_s};
        for (int step = 0; step < steps.size(); ++step) {
            QCOMPARE(m_onboarding.step(), step);
            QQuickItem *flow = named(u"onboardingSteps"_s);
            QVERIFY2(texts(flow).contains(steps.at(step)), qPrintable(steps.at(step)));
            checkReachableAndNamed(flow, u"step "_s + QString::number(step));
            QMetaObject::invokeMethod(flow->parentItem(), "focusStep");
            QTest::keyClick(m_window, Qt::Key_Return);
        }
        QVERIFY(!m_onboarding.isShowing());
        QVERIFY(m_preferences.booleanOrDefault(PreferenceKeys::hasOnboarded));
        QCOMPARE(m_spoken, QStringList{u"Murmel is ready."_s});
        QTRY_VERIFY(named(u"homeView"_s));
    }

    // Each screen and tab, known by a text of its own, every control named and reached by Tab.
    void screensShowTheirTexts_data()
    {
        QTest::addColumn<Nav::MurScreen>("screen");
        QTest::addColumn<Nav::SettingsTab>("tab");
        QTest::addColumn<QString>("text");
        using S = Nav::MurScreen;
        using T = Nav::SettingsTab;
        QTest::newRow("home") << S::home << T::general << u"Browse your past transcripts (Ctrl+3)"_s;
        QTest::newRow("file") << S::file << T::general << u"Transcribe a file"_s;
        QTest::newRow("history") << S::history << T::general << u"Select a transcript"_s;
        QTest::newRow("general") << S::settings << T::general << u"Input Monitoring, for the global hotkey"_s;
        QTest::newRow("model") << S::settings << T::model << u"Dictation speed: Accurate"_s;
        QTest::newRow("cleanup") << S::settings << T::cleanup << u"Opus 4.8 (best)"_s;
        QTest::newRow("dictionary") << S::settings << T::dictionary
                                    << u"No words yet. Add one, like “brindle wick” → “BrindleWick”."_s;
        QTest::newRow("support") << S::settings << T::support << AppInfo::supportAddress();
        QTest::newRow("about") << S::settings << T::about
                               << u"Murmel "_s + AppInfo::shortVersion() + u" ("_s + AppInfo::build() + u')';
    }

    void screensShowTheirTexts()
    {
        QFETCH(Nav::MurScreen, screen);
        QFETCH(Nav::SettingsTab, tab);
        QFETCH(QString, text);
        QQuickItem *root = showScreen(screen, tab);
        QVERIFY(root);
        QVERIFY2(texts(root).contains(text), qPrintable(text));
        checkReachableAndNamed(root, QString::fromLatin1(QTest::currentDataTag()));
    }

    // The button drives the controller and says what it does; while a dictation is being
    // processed it can do nothing.
    void homeFollowsTheController()
    {
        QVERIFY(showScreen(Nav::MurScreen::home));
        QQuickItem *button = named(u"dictationButton"_s);
        press(button);
        QCOMPARE(m_rig.controller->status(), DictationController::Status::recording);
        QCOMPARE(named(u"statusLine"_s)->property("text").toString(), u"Listening"_s);
        QCOMPARE(button->property("text").toString(), u"Stop dictation"_s);
        // Stopped with speech but no model: processing.
        m_rig.microphone.deliver(QList<float>(16000, 0.1f));
        press(button);
        QCOMPARE(named(u"statusLine"_s)->property("text").toString(), u"Working"_s);
        QVERIFY(!button->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(m_rig.controller->status(), DictationController::Status::idle, 10000);
        QVERIFY(button->isEnabled());
    }

    // The filter buttons narrow the list; the selected transcript is copied and deleted.
    void historyFiltersCopiesAndDeletes()
    {
        for (const auto kind : {TranscriptRecord::Kind::dictation, TranscriptRecord::Kind::dictation,
                                TranscriptRecord::Kind::file})
            m_rig.history.add(kind, u"title"_s, kind == TranscriptRecord::Kind::file ? u"file text"_s : u"text"_s);
        QVERIFY(showScreen(Nav::MurScreen::history));
        QQuickItem *list = named(u"historyList"_s);
        press(withText(u"Voice"_s));
        QCOMPARE(list->property("count").toInt(), 2);
        press(withText(u"Files"_s));
        QCOMPARE(list->property("count").toInt(), 1);
        auto *history = qobject_cast<HistoryViewModel *>(list->property("model").value<QObject *>());
        QVERIFY(history);
        history->setSelection(history->data(history->index(0), HistoryViewModel::IdRole).toString());
        press(named(u"copyButton"_s));
        QCOMPARE(m_rig.clipboard.text(), u"file text"_s);
        press(named(u"deleteButton"_s));
        QCOMPARE(m_rig.history.records().size(), 2);
        QVERIFY(history->selection().isEmpty() && named(u"detailPlaceholder"_s));
    }

    // Each switch and picker writes its preference, and follows another writer; a hotkey this
    // desktop stops passing on shows sway's line instead, and hold to talk goes grey.
    void settingsFollowPreferences()
    {
        namespace K = PreferenceKeys;
        QQuickItem *view = showScreen(Nav::MurScreen::settings, Nav::SettingsTab::general);
        for (const auto &[name, key] : {std::pair{u"holdToTalkSwitch"_s, K::holdToTalk},
                                        {u"clipboardSafeInsertSwitch"_s, K::clipboardSafeInsert},
                                        {u"soundsSwitch"_s, K::soundsEnabled}, {u"voiceSwitch"_s, K::voiceEnabled}}) {
            const bool before = m_preferences.booleanOrDefault(key);
            press(named(name));
            QVERIFY2(Preferences(m_preferences.filePath()).booleanOrDefault(key) != before, qPrintable(name));
        }
        // Turned off, clipboard-safe insert drops what it held rather than typing it later.
        m_rig.safeInsert.hold(u"held"_s);
        press(named(u"clipboardSafeInsertSwitch"_s));
        QVERIFY(!m_rig.safeInsert.pending());
        QVERIFY(QMetaObject::invokeMethod(named(u"languagePicker"_s), "activated", Q_ARG(int, 4)));
        QCOMPARE(Preferences(m_preferences.filePath()).string(K::language), std::optional<QString>(u"de"_s));
        QQuickItem *hold = named(u"holdToTalkSwitch"_s);
        QVERIFY(Preferences(m_preferences.filePath()).setBoolean(K::holdToTalk, false));
        QTRY_COMPARE(hold->property("checked").toBool(), false);
        m_rig.hotkeyBackend.setActive(false);
        QTRY_VERIFY(texts(view).contains(m_desktopHotkey.swayLine()) && !hold->isEnabled());
        m_rig.hotkeyBackend.setActive(true);
    }

    // The model and cleanup tabs reach what they stand for, down to a key stored in the keyring.
    void modelAndCleanupTabs()
    {
        QQuickItem *modelTab = showScreen(Nav::MurScreen::settings, Nav::SettingsTab::model);
        QVERIFY(modelTab);
        press(withText(u"Accurate"_s));
        press(named(u"model_large-v3"_s));
        press(named(u"fasterShortDictationsSwitch"_s));
        QCOMPARE(QString(m_settings.dictationSpeed() + u' ' + m_settings.whisperModel()), u"accurate large-v3"_s);
        QVERIFY(Preferences(m_preferences.filePath()).booleanOrDefault(PreferenceKeys::fasterShortDictations));
        // The card found is named, and turning it off (it is on by default) leaves the processor.
        QQuickItem *card = named(u"graphicsCardSwitch"_s);
        QTRY_VERIFY(card->isEnabled() && card->property("checked").toBool());
        QVERIFY(texts(modelTab).contains(u"Runs the speech model on Test Card (Vulkan). Off, the processor runs it."_s));
        press(card);
        QVERIFY(!Preferences(m_preferences.filePath()).booleanOrDefault(PreferenceKeys::coreMLEnabled));
        QQuickItem *view = showScreen(Nav::MurScreen::settings, Nav::SettingsTab::cleanup);
        press(named(u"addStyleButton"_s));
        QCOMPARE(m_customization.styles().size(), 1);
        named(u"apiKeyField"_s)->forceActiveFocus();
        for (const char c : {'s', 'k', '-', '1'})
            QTest::keyClick(m_window, c);
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_VERIFY(m_apiKey.isStored());
        QVERIFY(texts(view).contains(u"Key stored in your keyring"_s));
    }

    // A click listens for the next key, which becomes the hotkey; the button beside clears it.
    void hotkeyFieldRecords()
    {
        QVERIFY(showScreen(Nav::MurScreen::settings, Nav::SettingsTab::general));
        QQuickItem *button = named(u"hotkeyButton"_s);
        press(button);
        // Ctrl+F9: X key code 75, the evdev code 67 plus 8.
        QKeyEvent key(QEvent::KeyPress, Qt::Key_F9, Qt::ControlModifier, 75, 0, 0);
        QCoreApplication::sendEvent(m_window, &key);
        QVERIFY(key.isAccepted() && m_rig.hotkeys.shortcut());
        QCOMPARE(m_rig.hotkeys.shortcut()->keyCode, 67);
        QCOMPARE(button->property("text").toString(), m_rig.hotkeys.shortcut()->display);
        // Leaving the field gives up listening; a later key press there is an ordinary key again.
        press(button);
        QVERIFY(m_recorder.isRecording());
        named(u"holdToTalkSwitch"_s)->forceActiveFocus();
        QVERIFY(!m_recorder.isRecording());
        press(named(u"clearHotkeyButton"_s));
        QCOMPARE(button->property("text").toString(), u"Not set"_s);
    }

    // Idle, the window draws only the title's sheen, in one short pass at a time; closed, it
    // keeps no clock running. Either way an idle Murmel costs nothing.
    void idleDrawsNothing()
    {
        QVERIFY(showScreen(Nav::MurScreen::home));
        QQuickItem *title = find([](QQuickItem *i) { return QByteArray(i->metaObject()->className()).startsWith("ChromeText"); });
        QVERIFY(title);
        const auto sheen = [title] { return title->property("sheenPosition").toReal(); };
        QTRY_VERIFY_WITH_TIMEOUT(sheen() > -1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(sheen(), -1.0, 5000);
        QTest::qWait(300); // the frame that clears the sheen
        QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
        QTest::qWait(1500);
        QCOMPARE(frames.size(), 0);
        QVERIFY(title->property("sheenScheduled").toBool());
        m_window->hide();
        QTRY_VERIFY(!title->property("sheenScheduled").toBool());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }
};

int main(int argc, char **argv)
{
    return DesktopSession::exec<TestScreens, QApplication>(argc, argv);
}
#include "tst_screens.moc"
