// The main window: it loads from the compiled module without a warning, shows the model
// store's state, and its menus and shortcuts reach the shell's commands.
#include "core/base/appinfo.h"
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
#include "gui/viewmodels/nav.h"
#include "gui/viewmodels/onboarding.h"
#include "gui/viewmodels/permissions.h"
#include "gui/viewmodels/settingsmodel.h"
#include "platform/portal/desktopappearance.h"
#include "platform/portal/filechooser.h"
#include "shell/fileopenrouter.h"
#include "shell/murcommands.h"
#include "shell/updatechecker.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QAccessible>
#include <QDropEvent>
#include <QMetaEnum>
#include <QMimeData>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

using namespace Qt::StringLiterals;

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

Q_DECLARE_METATYPE(Nav::MurScreen)

class TestMainWindow final : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_environment;
    TestHttpServer m_server;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<DictationRig> m_rig;
    std::unique_ptr<ModelListModel> m_list;
    Nav m_nav;
    FileOpenRouter m_router;
    FakeMainWindowHost m_host;
    FakeUrlOpener m_urls;
    std::unique_ptr<UpdateChecker> m_updates;
    std::unique_ptr<MurCommands> m_commands;
    // The screens' models, as the application makes them.
    std::unique_ptr<DesktopAppearance> m_appearance;
    std::unique_ptr<CustomizationStore> m_customization;
    std::unique_ptr<SettingsModel> m_settings;
    std::unique_ptr<Permissions> m_permissions;
    std::unique_ptr<DesktopHotkey> m_desktopHotkey;
    std::unique_ptr<HotkeyRecorder> m_recorder;
    std::unique_ptr<ApiKeyField> m_apiKey;
    std::unique_ptr<CustomizationListModel> m_styles;
    std::unique_ptr<CustomizationListModel> m_rules;
    std::unique_ptr<HistoryViewModels> m_histories;
    std::unique_ptr<Onboarding> m_onboarding;
    std::unique_ptr<EyeEgg> m_homeEgg;
    std::unique_ptr<EyeEgg> m_aboutEgg;
    QStringList m_spoken;
    FakeSpeechSynthesizer m_synthesizer;
    Voice m_voice{m_synthesizer};
    std::unique_ptr<FileTranscriptionModel> m_fileModel;
    FileChooser m_chooser;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;

    QQuickItem *named(const QString &name)
    {
        QQuickItem *found = nullptr;
        std::function<void(QQuickItem *)> search = [&](QQuickItem *item) {
            if (!found && item->objectName() == name && item->isVisible())
                found = item;
            for (QQuickItem *child : item->childItems())
                search(child);
        };
        search(m_window->contentItem());
        return found;
    }

    void makeScreenModels()
    {
        // No portal on this bus name: contrast and motion keep their defaults.
        m_appearance = std::make_unique<DesktopAppearance>(QDBusConnection(u"none"_s));
        m_customization = std::make_unique<CustomizationStore>(*m_preferences);
        m_settings = std::make_unique<SettingsModel>(SettingsModel::Collaborators{
            *m_preferences, &m_rig->history, &m_rig->safeInsert, nullptr, &m_nav, &m_rig->models,
            m_customization.get()});
        m_permissions = std::make_unique<Permissions>(Permissions::Probes{
            [] { return true; }, [this] { return m_rig->keyboard.isTrusted(); },
            [this] { return m_rig->hotkeys.isActive(); }});
        m_desktopHotkey = std::make_unique<DesktopHotkey>(m_rig->hotkeys, DesktopHotkey::Desktop::x11, nullptr);
        m_recorder = std::make_unique<HotkeyRecorder>(m_rig->hotkeys, *m_preferences, nullptr);
        m_apiKey = std::make_unique<ApiKeyField>(m_rig->keychain);
        m_styles = std::make_unique<CustomizationListModel>(*m_customization, CustomizationListModel::List::styles);
        m_rules = std::make_unique<CustomizationListModel>(*m_customization, CustomizationListModel::List::rules);
        m_histories = std::make_unique<HistoryViewModels>(m_rig->history, m_rig->clipboard);
        m_onboarding = std::make_unique<Onboarding>(Onboarding::Collaborators{
            *m_preferences, *m_permissions, *m_settings, m_rig->models, {},
            [this] { m_spoken << u"Murmel is ready."_s; }});
        const auto speak = [this](const QString &phrase) { m_spoken << phrase; };
        m_homeEgg = std::make_unique<EyeEgg>(EyeEgg::Collaborators{speak, {}});
        m_aboutEgg = std::make_unique<EyeEgg>(EyeEgg::Collaborators{speak, {}});
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Appearance", m_appearance.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Settings", m_settings.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Permissions", m_permissions.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "DesktopHotkey", m_desktopHotkey.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "HotkeyRecorder", m_recorder.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "ApiKey", m_apiKey.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Styles", m_styles.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "DictionaryRules", m_rules.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Histories", m_histories.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Onboarding", m_onboarding.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "HomeEgg", m_homeEgg.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "AboutEgg", m_aboutEgg.get());
    }

    QList<QQuickItem *> items(const char *className)
    {
        QList<QQuickItem *> found;
        std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->inherits(className))
                found << item;
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(m_window->contentItem());
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server.url(u"/models/"_s).toString().toUtf8());
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        QQuickStyle::setStyle(u"Basic"_s);
        m_preferences = std::make_unique<Preferences>(m_environment.configHome() + u"/Murmel/preferences.json"_s);
        m_rig = std::make_unique<DictationRig>(*m_preferences, m_environment.dataHome() + u"/Murmel/History/history.json"_s,
                                               m_environment.dataHome() + u"/Murmel/Models"_s);
        m_list = std::make_unique<ModelListModel>(m_rig->models);
        m_updates = std::make_unique<UpdateChecker>(m_server.url(u"/latest.json"_s), u"0.1.0"_s);
        m_commands = std::make_unique<MurCommands>(
            MurCommands::Collaborators{*m_rig->controller, m_nav, m_router, m_host, m_urls, *m_updates});
        qmlRegisterSingletonInstance("Murmel", 1, 0, "ModelStore", &m_rig->models);
        qmlRegisterSingletonInstance("Murmel", 1, 0, "ModelList", m_list.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Dictation", m_rig->controller.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Nav", &m_nav);
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Commands", m_commands.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "Updates", m_updates.get());
        m_fileModel = std::make_unique<FileTranscriptionModel>(FileTranscriptionModel::Collaborators{
            m_rig->models, *m_preferences, m_rig->history, m_rig->sounds, m_voice, m_rig->clipboard,
            m_rig->clickInserter, m_rig->activity});
        qmlRegisterSingletonInstance("Murmel", 1, 0, "FileTranscription", m_fileModel.get());
        qmlRegisterSingletonInstance("Murmel", 1, 0, "FileChooser", &m_chooser);
        makeScreenModels();

        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->load(QUrl(u"qrc:/Murmel/Main.qml"_s));
        QCOMPARE(m_engine->rootObjects().size(), 1);
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        QVERIFY(m_window);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanupTestCase()
    {
        m_engine.reset();
    }

    // A first run: onboarding's three steps, then home; later screens each in their frame.
    void onboardingLeadsToTheScreens()
    {
        QCOMPARE(m_window->title(), u"Murmel"_s);
        QCOMPARE(m_window->width(), 780);
        QCOMPARE(m_window->height(), 640);
        QVERIFY(m_onboarding->isShowing());
        QVERIFY(named(u"welcomeStep"_s));
        QVERIFY(!named(u"homeView"_s));

        QMetaObject::invokeMethod(named(u"welcomeContinue"_s), "clicked");
        QTRY_VERIFY(named(u"permissionsStep"_s));
        QVERIFY(named(u"hotkeyRow"_s));
        QMetaObject::invokeMethod(named(u"onboardingForward"_s), "clicked");
        QTRY_VERIFY(named(u"modelStep"_s));
        QCOMPARE(named(u"onboardingForward"_s)->property("text").toString(), u"Skip for now"_s);
        QMetaObject::invokeMethod(named(u"onboardingForward"_s), "clicked");

        QVERIFY(!m_onboarding->isShowing());
        QVERIFY(m_preferences->booleanOrDefault(u"hasOnboarded"_s));
        QCOMPARE(m_spoken, QStringList{u"Murmel is ready."_s});
        QTRY_VERIFY(named(u"homeView"_s));
        QTRY_VERIFY(!named(u"onboardingSteps"_s));
        QCOMPARE(named(u"dictationButton"_s)->property("text").toString(), u"Start dictation"_s);

        const QList<std::pair<Nav::MurScreen, QString>> framed = {
            {Nav::MurScreen::file, u"fileScreen"_s},
            {Nav::MurScreen::history, u"historyScreen"_s},
            {Nav::MurScreen::settings, u"settingsScreen"_s}};
        for (const auto &[screen, name] : framed) {
            m_nav.setScreen(screen);
            QTRY_VERIFY2(named(name), qPrintable(name));
            QVERIFY(!named(u"homeView"_s));
            QMetaObject::invokeMethod(named(u"backButton"_s), "clicked");
            QCOMPARE(m_nav.screen(), Nav::MurScreen::home);
            QTRY_VERIFY(named(u"homeView"_s));
        }
        // The home screen's tiles lead where they say.
        QMetaObject::invokeMethod(named(u"historyTile"_s), "clicked");
        QCOMPARE(m_nav.screen(), Nav::MurScreen::history);
        m_nav.setScreen(Nav::MurScreen::home);
        QTRY_VERIFY(named(u"hotkeyLink"_s));
        m_nav.setSettingsTab(Nav::SettingsTab::about);
        QMetaObject::invokeMethod(named(u"hotkeyLink"_s), "clicked");
        QCOMPARE(m_nav.screen(), Nav::MurScreen::settings);
        QCOMPARE(m_nav.settingsTab(), Nav::SettingsTab::general);
        m_nav.setScreen(Nav::MurScreen::home);
    }

    // Every control a screen shows can be reached with Tab and has a name a screen reader
    // can say (what the accessibility bridge hands to AT-SPI).
    void everyControlIsNamedAndReachable_data()
    {
        QTest::addColumn<Nav::MurScreen>("screen");
        QTest::addColumn<Nav::SettingsTab>("tab");
        QTest::newRow("home") << Nav::MurScreen::home << Nav::SettingsTab::general;
        QTest::newRow("file") << Nav::MurScreen::file << Nav::SettingsTab::general;
        QTest::newRow("history") << Nav::MurScreen::history << Nav::SettingsTab::general;
        const QMetaEnum tabs = QMetaEnum::fromType<Nav::SettingsTab>();
        for (int i = 0; i < tabs.keyCount(); ++i)
            QTest::addRow("settings %s", tabs.key(i))
                << Nav::MurScreen::settings << static_cast<Nav::SettingsTab>(tabs.value(i));
    }

    void everyControlIsNamedAndReachable()
    {
        QFETCH(Nav::MurScreen, screen);
        QFETCH(Nav::SettingsTab, tab);
        QVERIFY(!m_onboarding->isShowing());
        m_nav.setSettingsTab(tab);
        m_nav.setScreen(screen);
        QTest::qWait(50);
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QQuickItem *root = named(u"screenLoader"_s);
        QVERIFY(root);

        QList<QQuickItem *> controls;
        std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (!item->isVisible() || !item->isEnabled())
                return;
            const bool control = item->inherits("QQuickAbstractButton") || item->inherits("QQuickComboBox")
                                 || item->inherits("QQuickTextField") || item->inherits("QQuickTextArea");
            if (control && !item->property("readOnly").toBool() && !item->inherits("QQuickItemDelegate"))
                controls << item;
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(root);
        QVERIFY(!controls.isEmpty());

        for (QQuickItem *control : controls) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY(accessible);
            QVERIFY2(!accessible->text(QAccessible::Name).trimmed().isEmpty(),
                     qPrintable(QString::fromLatin1(control->metaObject()->className()) + u' ' +
                                control->objectName()));
        }

        QList<QQuickItem *> chain;
        root->forceActiveFocus();
        for (int i = 0; i < 200; ++i) {
            QTest::keyClick(m_window, Qt::Key_Tab);
            QQuickItem *focused = m_window->activeFocusItem();
            if (!focused || chain.contains(focused))
                break;
            chain << focused;
        }
        for (QQuickItem *control : controls)
            QVERIFY2(chain.contains(control), qPrintable(QString::fromLatin1(control->metaObject()->className()) +
                                                         u' ' + control->objectName() + u' ' +
                                                         control->property("text").toString()));
        m_nav.setScreen(Nav::MurScreen::home);
    }

    // The file screen takes a dropped file anywhere on it (only the first of several; an
    // empty drop does nothing), and "Choose file" opens the chooser.
    void fileScreenTakesDropsAndOpensTheChooser()
    {
        m_nav.setScreen(Nav::MurScreen::file);
        QTRY_VERIFY(named(u"dropZone"_s));
        QCOMPARE(m_fileModel->phaseName(), u"empty"_s);
        const QPoint middle(m_window->width() / 2, m_window->height() / 2);
        const auto drop = [&](const QList<QUrl> &urls) {
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(m_window, &enter);
            QDropEvent dropped(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(m_window, &dropped);
            return dropped.isAccepted();
        };
        QVERIFY(drop({}));
        QCOMPARE(m_fileModel->phaseName(), u"empty"_s);
        const QString first = m_environment.dataHome() + u"/Interview Take 2.wav"_s;
        QVERIFY(drop({QUrl::fromLocalFile(first), QUrl::fromLocalFile(m_environment.dataHome() + u"/other.mp3"_s)}));
        QCOMPARE(m_fileModel->fileName(), u"Interview Take 2"_s);
        QVERIFY(m_fileModel->phaseName() != u"empty"_s);
        // A file that is not there ends in a failure the screen shows, with a way on.
        QTRY_COMPARE(m_fileModel->phaseName(), u"failed"_s);
        QTRY_VERIFY(named(u"tryAnotherButton"_s));

        QMetaObject::invokeMethod(named(u"tryAnotherButton"_s), "clicked");
        QTRY_VERIFY(m_chooser.dialog());
        QVERIFY(QMetaObject::invokeMethod(m_chooser.dialog(), "reject"));
        QTRY_VERIFY(!m_chooser.dialog());
        m_nav.setScreen(Nav::MurScreen::home);
    }

    void menusHoldTheCommands()
    {
        QObject *bar = m_window->property("menuBar").value<QObject *>();
        QVERIFY(bar);
        QStringList menus;
        QStringList actions;
        const QList<QObject *> children = bar->findChildren<QObject *>(Qt::FindDirectChildrenOnly);
        for (QObject *menu : children) {
            if (!menu->inherits("QQuickMenu"))
                continue;
            menus << menu->property("title").toString();
            const int entries = menu->property("count").toInt();
            for (int j = 0; j < entries; ++j) {
                QQuickItem *entry = nullptr;
                QVERIFY(QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem *, entry), Q_ARG(int, j)));
                const QString text = entry->property("text").toString();
                if (!text.isEmpty())
                    actions << text;
            }
        }
        QCOMPARE(menus, (QStringList{u"&File"_s, u"&Dictation"_s, u"&View"_s, u"&Help"_s}));
        QCOMPARE(actions, (QStringList{u"Transcribe a File…"_s, u"Settings…"_s, u"Quit Murmel"_s, u"Start Dictation"_s,
                                       u"Set Hotkey…"_s, u"Home"_s, u"Transcribe a File"_s, u"History"_s, u"Back"_s,
                                       u"Murmel Help"_s, u"Contact Support"_s, u"Check for Updates…"_s}));
    }

    void shortcutsMoveBetweenScreens_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<Nav::MurScreen>("screen");

        // Each row starts on the settings screen.
        QTest::newRow("Ctrl+1 home") << QKeySequence(u"Ctrl+1"_s) << Nav::MurScreen::home;
        QTest::newRow("Ctrl+2 file") << QKeySequence(u"Ctrl+2"_s) << Nav::MurScreen::file;
        QTest::newRow("Ctrl+O file") << QKeySequence(u"Ctrl+O"_s) << Nav::MurScreen::file;
        QTest::newRow("Ctrl+3 history") << QKeySequence(u"Ctrl+3"_s) << Nav::MurScreen::history;
        QTest::newRow("Ctrl+[ back") << QKeySequence(u"Ctrl+["_s) << Nav::MurScreen::home;
        QTest::newRow("Alt+Left back") << QKeySequence(u"Alt+Left"_s) << Nav::MurScreen::home;
        QTest::newRow("Ctrl+, settings") << QKeySequence(u"Ctrl+,"_s) << Nav::MurScreen::settings;
    }

    void shortcutsMoveBetweenScreens()
    {
        QFETCH(QKeySequence, keys);
        QFETCH(Nav::MurScreen, screen);
        m_nav.setScreen(Nav::MurScreen::settings);
        m_window->requestActivate();
        QTest::keySequence(m_window, keys);
        QCOMPARE(m_nav.screen(), screen);
    }

    // A menu opened with its mnemonic is walked with the arrow keys and Return.
    void menusWorkFromTheKeyboard()
    {
        m_nav.setScreen(Nav::MurScreen::home);
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QTest::keyClick(m_window, Qt::Key_V, Qt::AltModifier);
        QTest::keyClick(m_window, Qt::Key_Down);
        QTest::keyClick(m_window, Qt::Key_Down);
        QTest::keyClick(m_window, Qt::Key_Down);
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_COMPARE(m_nav.screen(), Nav::MurScreen::history);
        // The settings tabs move with Ctrl+Page Down and back with Ctrl+Page Up.
        m_nav.setSettingsTab(Nav::SettingsTab::about);
        m_nav.setScreen(Nav::MurScreen::settings);
        QTRY_VERIFY(named(u"settingsScreen"_s));
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QTest::keyClick(m_window, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(m_nav.settingsTab(), Nav::SettingsTab::general);
        QTest::keyClick(m_window, Qt::Key_PageUp, Qt::ControlModifier);
        QTest::keyClick(m_window, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(m_nav.settingsTab(), Nav::SettingsTab::support);
        m_nav.setScreen(Nav::MurScreen::home);
    }

    void shortcutsReachDictationAndHelp()
    {
        m_window->requestActivate();
        QTest::keySequence(m_window, QKeySequence(u"Ctrl+Shift+D"_s));
        QCOMPARE(m_rig->controller->status(), DictationController::Status::recording);
        QTest::keySequence(m_window, QKeySequence(u"F1"_s));
        QCOMPARE(m_urls.opened.value(0), AppInfo::website());
        m_rig->controller->stopAndProcess();
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->controller->status(), DictationController::Status::idle, 10000);
    }

    void updateAnswerIsShown()
    {
        m_server.setResponse(u"/latest.json"_s, {.body = R"({"version": "9.0.0", "notes": "Faster."})",
                                                   .contentType = "application/json"});
        QObject *dialog = m_window->findChild<QObject *>(u"updateDialog"_s);
        QVERIFY(dialog);
        QVERIFY(!dialog->property("visible").toBool());
        m_commands->checkForUpdates();
        QTRY_VERIFY(dialog->property("visible").toBool());
        QVERIFY(m_updates->isNewerVersionAvailable());
        QCOMPARE(m_updates->message(), u"Murmel 9.0.0 is available. You have 0.1.0."_s);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
