// The history and settings screens over their real view models: each loads without a single
// warning, shows the texts the user reads, moves data both ways between its controls and
// the preferences, and lets Tab reach every control.
#include "core/base/loginitem.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/dictation/hotkeyrecorder.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/speech/modellistmodel.h"
#include "core/speech/modelstore.h"
#include "core/text/customizationstore.h"
#include "core/text/keychainhelper.h"
#include "core/transcripts/historystore.h"
#include "fakes/fakeclipboard.h"
#include "fakes/fakehotkeybackend.h"
#include "fakes/fakekeyboardinjector.h"
#include "fakesecretstore.h"
#include "gui/viewmodels/apikeyfield.h"
#include "gui/viewmodels/customizationlistmodel.h"
#include "gui/viewmodels/desktophotkey.h"
#include "gui/viewmodels/eyeegg.h"
#include "gui/viewmodels/historyviewmodel.h"
#include "gui/viewmodels/nav.h"
#include "gui/viewmodels/onboarding.h"
#include "gui/viewmodels/permissions.h"
#include "gui/viewmodels/settingsmodel.h"
#include "testenvironment.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

using namespace Qt::StringLiterals;

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

namespace {

// Every object reachable from `root`, items and attached objects alike.
void collect(QObject *object, QSet<QObject *> &seen, QList<QObject *> &out)
{
    if (!object || seen.contains(object))
        return;
    seen.insert(object);
    out << object;
    for (QObject *child : object->children())
        collect(child, seen, out);
    if (auto *item = qobject_cast<QQuickItem *>(object)) {
        for (QQuickItem *child : item->childItems())
            collect(child, seen, out);
    }
}

QList<QObject *> everything(QObject *root)
{
    QSet<QObject *> seen;
    QList<QObject *> out;
    collect(root, seen, out);
    return out;
}

bool shown(QQuickItem *item)
{
    for (QQuickItem *it = item; it; it = it->parentItem()) {
        if (!it->isVisible())
            return false;
    }
    return true;
}

// Every text a person can read or hear: visible texts, placeholders, tooltips and the
// accessibility names and descriptions.
QStringList texts(QObject *root)
{
    QStringList found;
    for (QObject *object : everything(root)) {
        // Attached objects (tooltips, accessibility) count only while their item is shown.
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

QQuickItem *named(QObject *root, const QString &name)
{
    for (QObject *object : everything(root)) {
        if (object->objectName() == name)
            return qobject_cast<QQuickItem *>(object);
    }
    return nullptr;
}

} // namespace

class TestScreens final : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_environment;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<HistoryStore> m_history;
    FakeClipboard m_clipboard;
    FakeKeyboardInjector m_injector;
    std::unique_ptr<ClipboardSafeInsertService> m_safeInsert;
    FakeHotkeyBackend m_backend;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    std::unique_ptr<HotkeyRecorder> m_recorder;
    std::unique_ptr<ModelStore> m_models;
    std::unique_ptr<ModelListModel> m_modelList;
    std::unique_ptr<CustomizationStore> m_customization;
    std::unique_ptr<CustomizationListModel> m_styles;
    std::unique_ptr<CustomizationListModel> m_rules;
    FakeSecretStore m_secrets;
    std::unique_ptr<KeychainHelper> m_keychain;
    std::unique_ptr<ApiKeyField> m_apiKey;
    std::unique_ptr<LoginItem> m_loginItem;
    Nav m_nav;
    bool m_microphone = true;
    std::unique_ptr<Permissions> m_permissions;
    std::unique_ptr<DesktopHotkey> m_desktopHotkey;
    std::unique_ptr<SettingsModel> m_settings;
    QStringList m_spoken;
    EyeEgg m_egg{{[this](const QString &phrase) { m_spoken << phrase; }, {}}};
    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    // The history screen's model, made afresh per test as the screen does per visit; it
    // outlives the window that shows it.
    std::unique_ptr<HistoryViewModel> m_historyModel;

    HistoryViewModel &freshHistoryModel()
    {
        m_window.reset();
        m_historyModel = std::make_unique<HistoryViewModel>(*m_history, m_clipboard);
        return *m_historyModel;
    }

    QString preferencesPath() const { return m_environment.configHome() + u"/Murmel/preferences.json"_s; }

    // Builds the screen in a fresh window and waits until it is shown.
    QQuickItem *show(const QString &file, const QVariantMap &properties)
    {
        m_window = std::make_unique<QQuickWindow>();
        m_window->resize(900, 1400);
        QQmlComponent component(&m_engine, QUrl(u"qrc:/Murmel/"_s + file));
        if (component.isError()) {
            qWarning() << component.errors();
            return nullptr;
        }
        QObject *object = component.createWithInitialProperties(properties);
        auto *item = qobject_cast<QQuickItem *>(object);
        if (!item)
            return nullptr;
        QQmlEngine::setObjectOwnership(item, QQmlEngine::CppOwnership);
        item->setParent(m_window.get());
        item->setParentItem(m_window->contentItem());
        item->setSize(m_window->size());
        m_window->show();
        m_window->requestActivate();
        if (!QTest::qWaitForWindowActive(m_window.get()))
            return nullptr;
        return item;
    }

    QQuickItem *showSettings()
    {
        return show(u"SettingsView.qml"_s,
                    {{u"settings"_s, QVariant::fromValue<QObject *>(m_settings.get())},
                     {u"permissions"_s, QVariant::fromValue<QObject *>(m_permissions.get())},
                     {u"desktopHotkey"_s, QVariant::fromValue<QObject *>(m_desktopHotkey.get())},
                     {u"recorder"_s, QVariant::fromValue<QObject *>(m_recorder.get())},
                     {u"models"_s, QVariant::fromValue<QObject *>(m_modelList.get())},
                     {u"apiKey"_s, QVariant::fromValue<QObject *>(m_apiKey.get())},
                     {u"styles"_s, QVariant::fromValue<QObject *>(m_styles.get())},
                     {u"rules"_s, QVariant::fromValue<QObject *>(m_rules.get())},
                     {u"egg"_s, QVariant::fromValue<QObject *>(&m_egg)}});
    }

    // Presses a control the way a keyboard user does, which also works for controls scrolled
    // out of sight.
    void click(QQuickItem *item)
    {
        QVERIFY(item);
        item->forceActiveFocus(Qt::TabFocusReason);
        QVERIFY(item->hasActiveFocus());
        QTest::keyClick(m_window.get(), Qt::Key_Space);
    }

    // QTest types into widgets only; a window gets its keys one by one.
    void typeText(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(m_window.get(), c.toLatin1());
    }

    // The controls Tab visits from the first one until it comes round again.
    QList<QQuickItem *> tabChain(QQuickItem *root)
    {
        QList<QQuickItem *> chain;
        m_window->requestActivate();
        root->forceActiveFocus();
        for (int i = 0; i < 200; ++i) {
            QTest::keyClick(m_window.get(), Qt::Key_Tab);
            QQuickItem *focused = m_window->activeFocusItem();
            if (!focused || chain.contains(focused))
                break;
            chain << focused;
        }
        return chain;
    }

    // The interactive controls of a screen: buttons, switches, pickers and fields shown
    // and enabled.
    static QList<QQuickItem *> controls(QQuickItem *root)
    {
        QList<QQuickItem *> found;
        for (QObject *object : everything(root)) {
            auto *item = qobject_cast<QQuickItem *>(object);
            if (!item || !shown(item) || !item->isEnabled())
                continue;
            // A list's rows are one Tab stop, the list itself; the arrow keys move within it.
            if (item->inherits("QQuickItemDelegate"))
                continue;
            if (item->inherits("QQuickAbstractButton") || item->inherits("QQuickComboBox")
                || item->inherits("QQuickTextField") || item->inherits("QQuickTextArea")) {
                if (item->property("readOnly").toBool())
                    continue;
                // Buttons inside a popup (pickers' lists, context menus) are not on the screen.
                if (!item->window())
                    continue;
                found << item;
            }
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QQuickStyle::setStyle(u"Basic"_s);
        m_preferences = std::make_unique<Preferences>(preferencesPath());
        m_history = std::make_unique<HistoryStore>(m_environment.dataHome() + u"/Murmel/History/history.json"_s,
                                                   *m_preferences);
        m_safeInsert = std::make_unique<ClipboardSafeInsertService>(m_injector);
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{&m_backend});
        m_monitor->start();
        m_recorder = std::make_unique<HotkeyRecorder>(*m_monitor, *m_preferences, nullptr);
        m_desktopHotkey = std::make_unique<DesktopHotkey>(*m_monitor, DesktopHotkey::Desktop::wlroots, nullptr);
        m_models = std::make_unique<ModelStore>(m_environment.dataHome() + u"/Murmel/Models"_s);
        m_modelList = std::make_unique<ModelListModel>(*m_models);
        m_customization = std::make_unique<CustomizationStore>(*m_preferences);
        m_styles = std::make_unique<CustomizationListModel>(*m_customization, CustomizationListModel::List::styles);
        m_rules = std::make_unique<CustomizationListModel>(*m_customization, CustomizationListModel::List::rules);
        m_keychain = std::make_unique<KeychainHelper>(m_secrets);
        m_apiKey = std::make_unique<ApiKeyField>(*m_keychain);
        m_loginItem = std::make_unique<LoginItem>(u"/usr/bin/murmel"_s);
        m_permissions = std::make_unique<Permissions>(Permissions::Probes{
            [this] { return m_microphone; }, [this] { return m_injector.trusted; },
            [this] { return m_desktopHotkey->works(); }});
        m_settings = std::make_unique<SettingsModel>(SettingsModel::Collaborators{
            *m_preferences, m_history.get(), m_safeInsert.get(), m_loginItem.get(), &m_nav, m_models.get(),
            m_customization.get()});
    }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
    }

    void cleanup()
    {
        m_window.reset();
        m_historyModel.reset();
        for (const TranscriptRecord &record : QList<TranscriptRecord>(m_history->records()))
            m_history->remove(record.id);
    }

    void historyPlaceholders()
    {
        HistoryViewModel &model = freshHistoryModel();
        QQuickItem *view = show(u"HistoryView.qml"_s, {{u"history"_s, QVariant::fromValue<QObject *>(&model)}});
        QVERIFY(view);
        QStringList shownTexts = texts(view);
        QVERIFY2(shownTexts.contains(u"No transcripts yet"_s), qPrintable(shownTexts.join(u" | "_s)));
        QVERIFY(shownTexts.contains(u"Select a transcript"_s));
        QVERIFY(shownTexts.contains(u"Search transcripts"_s));
        for (const QString &label : {u"All"_s, u"Voice"_s, u"Files"_s, u"Show all"_s, u"Show voice"_s,
                                     u"Show files"_s})
            QVERIFY2(shownTexts.contains(label), qPrintable(label));
        QVERIFY(!shownTexts.contains(u"Clear search"_s));

        m_history->add(TranscriptRecord::Kind::dictation, u"hello there"_s, u"hello there"_s);
        QVERIFY(!named(view, u"listPlaceholder"_s)->isVisible());
        auto *search = named(view, u"searchField"_s);
        search->forceActiveFocus();
        typeText(u"zebra"_s);
        QCOMPARE(model.query(), u"zebra"_s);
        shownTexts = texts(view);
        QVERIFY(shownTexts.contains(u"No matches"_s));
        QVERIFY(!shownTexts.contains(u"No transcripts yet"_s));
        QVERIFY(shownTexts.contains(u"Clear search"_s));
        click(named(view, u"clearSearchButton"_s));
        QCOMPARE(search->property("text").toString(), QString());
        QCOMPARE(model.count(), 1);

        // Damaged from outside: the screen says so instead of looking empty.
        QFile file(m_environment.dataHome() + u"/Murmel/History/history.json"_s);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"is damaged: it is not valid JSON"_s));
        file.write("[{\"id\": ");
        file.close();
        QTRY_VERIFY(named(view, u"historyProblem"_s)->isVisible());
        shownTexts = texts(view);
        QVERIFY(shownTexts.contains(u"No transcripts could be read"_s));
        QVERIFY2(named(view, u"historyProblem"_s)->property("text").toString().startsWith(u"The history file is damaged: it is not valid JSON"_s),
                 qPrintable(shownTexts.join(u" | "_s)));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[]"); // mended from outside: the note goes
        file.close();
        QTRY_VERIFY(!named(view, u"historyProblem"_s)->isVisible());
    }

    void historyFiltersAndSearches()
    {
        m_history->add(TranscriptRecord::Kind::dictation, u"Meeting notes"_s, u"the budget is fine"_s);
        m_history->add(TranscriptRecord::Kind::file, u"interview"_s, u"Budget talks, part two"_s, 61.0);
        m_history->add(TranscriptRecord::Kind::dictation, u"groceries"_s, u"milk and eggs"_s);
        HistoryViewModel &model = freshHistoryModel();
        QQuickItem *view = show(u"HistoryView.qml"_s, {{u"history"_s, QVariant::fromValue<QObject *>(&model)}});
        QVERIFY(view);
        QQuickItem *list = named(view, u"historyList"_s);
        QCOMPARE(list->property("count").toInt(), 3);

        click(named(view, u"filter_file"_s));
        QCOMPARE(list->property("count").toInt(), 1);
        click(named(view, u"filter_dictation"_s));
        QCOMPARE(list->property("count").toInt(), 2);

        named(view, u"searchField"_s)->forceActiveFocus();
        typeText(u"  BUDGET "_s);
        QCOMPARE(list->property("count").toInt(), 1);
        click(named(view, u"filter_all"_s));
        QCOMPARE(list->property("count").toInt(), 2);
        QCOMPARE(named(view, u"filter_all"_s)->property("checked").toBool(), true);
        QCOMPARE(named(view, u"filter_dictation"_s)->property("checked").toBool(), false);
    }

    void historyCopiesAndDeletesTheSelection()
    {
        const TranscriptRecord first = m_history->add(TranscriptRecord::Kind::dictation, u"first"_s, u"first text"_s);
        const TranscriptRecord second = m_history->add(TranscriptRecord::Kind::file, u"second"_s, u"second text"_s, 2.0);
        HistoryViewModel &model = freshHistoryModel();
        QQuickItem *view = show(u"HistoryView.qml"_s, {{u"history"_s, QVariant::fromValue<QObject *>(&model)}});
        QVERIFY(view);
        QVERIFY(!named(view, u"detail"_s)->isVisible());

        // The newest record is the first row; clicking it shows it in full.
        QQuickItem *list = named(view, u"historyList"_s);
        QQuickItem *row = nullptr;
        QVERIFY(QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0)));
        click(row);
        QCOMPARE(model.selection(), second.id.toString(QUuid::WithoutBraces).toUpper());
        QVERIFY(named(view, u"detail"_s)->isVisible());
        QCOMPARE(named(view, u"detailText"_s)->property("text").toString(), u"second text"_s);

        const int writes = m_clipboard.writes;
        click(named(view, u"copyButton"_s));
        QCOMPARE(m_clipboard.writes, writes + 1);
        QCOMPARE(m_clipboard.text(), u"second text"_s);

        // Deleting another record keeps the selection.
        model.remove(first.id.toString());
        QCOMPARE(model.selection(), second.id.toString(QUuid::WithoutBraces).toUpper());
        click(named(view, u"deleteButton"_s));
        QVERIFY(m_history->records().isEmpty());
        QVERIFY(model.selection().isEmpty());
        QVERIFY(named(view, u"detailPlaceholder"_s)->isVisible());
        QVERIFY(texts(view).contains(u"No transcripts yet"_s));
    }

    void historyTabReachesEveryControl()
    {
        m_history->add(TranscriptRecord::Kind::dictation, u"one"_s, u"one"_s);
        HistoryViewModel &model = freshHistoryModel();
        model.setSelection(m_history->records().first().id.toString());
        QQuickItem *view = show(u"HistoryView.qml"_s, {{u"history"_s, QVariant::fromValue<QObject *>(&model)}});
        QVERIFY(view);
        const QList<QQuickItem *> expected = controls(view);
        QCOMPARE(expected.size(), 6); // search, three filters, copy, delete
        const QList<QQuickItem *> chain = tabChain(view);
        // The list is one stop: its current row, whose neighbours the arrow keys reach.
        QQuickItem *list = named(view, u"historyList"_s);
        const auto inList = [list](QQuickItem *item) {
            for (QQuickItem *it = item; it; it = it->parentItem()) {
                if (it == list)
                    return true;
            }
            return false;
        };
        QCOMPARE(std::count_if(chain.cbegin(), chain.cend(), inList), 1);
        for (QQuickItem *control : expected)
            QVERIFY2(chain.contains(control), control->metaObject()->className());
    }

    // The first-run flow over its real model: each step's texts, its named controls, all
    // reachable with Tab, and Return on the focused button moving on.
    void onboardingStepsShowTheirTextsAndWalkWithReturn()
    {
        m_preferences->remove(PreferenceKeys::hasOnboarded);
        Onboarding onboarding({*m_preferences, *m_permissions, *m_settings, *m_models});
        QVERIFY(onboarding.isShowing());
        QQuickItem *view = show(u"OnboardingView.qml"_s,
                                {{u"onboarding"_s, QVariant::fromValue<QObject *>(&onboarding)},
                                 {u"permissions"_s, QVariant::fromValue<QObject *>(m_permissions.get())},
                                 {u"desktopHotkey"_s, QVariant::fromValue<QObject *>(m_desktopHotkey.get())},
                                 {u"settings"_s, QVariant::fromValue<QObject *>(m_settings.get())},
                                 {u"catalog"_s, QVariant::fromValue<QObject *>(m_modelList.get())},
                                 {u"models"_s, QVariant::fromValue<QObject *>(m_models.get())}});
        QVERIFY(view);
        const QList<QStringList> expected = {
            {u"Murmel is ready."_s,
             u"Talk anywhere on your computer and your words land as text where you are typing. Or drop in an audio or video file and get a transcript. Everything runs on your computer, free and private."_s},
            {u"Permissions"_s, u"Three quick grants and you are set."_s, u"Microphone"_s,
             u"So Murmel can hear you dictate."_s, u"Paste at your cursor"_s,
             u"So Murmel can paste text at your cursor."_s, u"Global hotkey"_s,
             u"So your global hotkey works anywhere."_s, u"Back"_s, u"Continue"_s},
            {u"Speech model"_s, u"Base (fast, English)"_s, u"Large v3 (most accurate)"_s, u"Download"_s,
             u"Download Small (balanced)"_s, u"Back"_s, u"Skip for now"_s}};
        for (int step = 0; step < 3; ++step) {
            QCOMPARE(onboarding.step(), step);
            const QStringList shownTexts = texts(view);
            for (const QString &text : expected.at(step))
                QVERIFY2(shownTexts.contains(text), qPrintable(QString::number(step) + u": "_s + text));
            const QList<QQuickItem *> chain = tabChain(view);
            for (QQuickItem *control : controls(view))
                QVERIFY2(chain.contains(control), qPrintable(QString::number(step) + u": "_s +
                                                             control->property("text").toString()));
            // The step's way on has the focus back after the Tab walk.
            QMetaObject::invokeMethod(view, "focusStep");
            QTest::keyClick(m_window.get(), Qt::Key_Return);
        }
        QVERIFY(!onboarding.isShowing());
        QVERIFY(m_preferences->booleanOrDefault(PreferenceKeys::hasOnboarded));
        // The view goes before the flow it shows.
        m_window.reset();
    }

    void settingsTabsShowTheirTexts_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("general") << u"general"_s
                                 << QStringList{u"Dictation"_s, u"Hotkey"_s, u"Hold the hotkey to talk"_s,
                                                u"Use clipboard safe insert"_s, u"Open Murmel at login"_s,
                                                u"Language"_s, u"Dictation language"_s, u"Detect automatically"_s,
                                                u"Sounds"_s, u"Play UI sounds"_s,
                                                u"Speak cues in the robotic voice"_s, u"Transcripts"_s,
                                                u"Keep transcripts for"_s, u"Forever"_s, u"Open history"_s,
                                                u"Open the list of past transcripts"_s, u"Permissions"_s,
                                                u"Accessibility, to paste at your cursor"_s,
                                                u"Input Monitoring, for the global hotkey"_s,
                                                u"Dictation hotkey"_s, u"Clear the hotkey"_s,
                                                u"Start Murmel automatically when you log in, so your hotkey is always ready."_s,
                                                u"Hold the hotkey to talk and release to stop. Off means press once to start, again to stop."_s,
                                                u"Play interface sound effects for start, stop, and done."_s,
                                                u"Speak status cues aloud, like “It's ready” when a file finishes."_s,
                                                u"The language you dictate in. Auto detects it for you."_s,
                                                u"How long to keep saved transcripts before they are removed."_s};
        QTest::newRow("model") << u"model"_s
                               << QStringList{u"Dictation speed"_s, u"Fast"_s, u"Accurate"_s,
                                              u"Dictation favors speed. Fast picks the quickest model that stays accurate for your language; the Claude cleanup pass, when on, tidies any rough edges. If English is not your first language, Accurate understands accented speech noticeably better and still lands under a second."_s,
                                              u"File transcription"_s,
                                              u"File transcription favors accuracy. Runs on your computer, free and private. Bigger models are more accurate, smaller ones faster. Each downloads once."_s,
                                              u"Download"_s};
        QTest::newRow("cleanup") << u"cleanup"_s
                                 << QStringList{u"Cleanup style"_s, u"Off (raw transcript)"_s,
                                                u"How Claude rewrites the transcript, or Off to keep it raw."_s,
                                                u"Off keeps the raw transcript on your computer. The built-in modes and your own styles below send it to Claude to rewrite in that voice."_s,
                                                u"Cleanup model"_s, u"Opus 4.8 (best)"_s,
                                                u"Which Claude model cleans up the text."_s, u"Anthropic API key"_s,
                                                u"Save"_s, u"Your styles"_s,
                                                u"Create your own cleanup voices with a name and an instruction. They join the built-in modes in the Style picker above."_s,
                                                u"Add style"_s};
        QTest::newRow("dictionary") << u"dictionary"_s
                                    << QStringList{u"Fixes wordings on every dictation, right on your computer, before the text lands. Type what Murmel tends to hear, then the exact term you want. Works even with cleanup off, and tells Claude the correct spelling when cleanup is on."_s,
                                                   u"No words yet. Add one, like “brindle wick” → “BrindleWick”."_s,
                                                   u"Add word"_s};
        QTest::newRow("support") << u"support"_s
                                 << QStringList{u"Questions, bugs, or ideas?"_s, u"Email support"_s,
                                                u"Email support with your app version prefilled"_s,
                                                u"The email opens with your app version filled in, so we can help faster."_s};
        QTest::newRow("about") << u"about"_s << QStringList{};
    }

    void settingsTabsShowTheirTexts()
    {
        QFETCH(QString, tab);
        QFETCH(QStringList, expected);
        m_settings->setSettingsTab(tab);
        QQuickItem *view = showSettings();
        QVERIFY(view);
        const QStringList shownTexts = texts(view);
        for (const QString &text : expected)
            QVERIFY2(shownTexts.contains(text), qPrintable(u"missing: "_s + text));
        if (tab == u"support"_s)
            QVERIFY(shownTexts.contains(SettingsModel::supportAddress()));
        if (tab == u"about"_s)
            QVERIFY(shownTexts.contains(u"Murmel "_s + SettingsModel::version() + u" ("_s + SettingsModel::build() + u')'));
        // Tab reaches every control of the tab.
        const QList<QQuickItem *> reachable = controls(view);
        QVERIFY(!reachable.isEmpty());
        const QList<QQuickItem *> chain = tabChain(view);
        for (QQuickItem *control : reachable)
            QVERIFY2(chain.contains(control), qPrintable(control->objectName() + u' ' +
                                                          QString::fromLatin1(control->metaObject()->className())));
    }

    void tabBarWritesTheNavigation()
    {
        QQuickItem *bar = show(u"SettingsTabs.qml"_s, {{u"settings"_s, QVariant::fromValue<QObject *>(m_settings.get())}});
        QVERIFY(bar);
        const QStringList shownTexts = texts(bar);
        for (const QString &label : {u"General"_s, u"Model"_s, u"Cleanup"_s, u"Dictionary"_s, u"Support"_s, u"About"_s})
            QVERIFY(shownTexts.contains(label));
        click(named(bar, u"tab_support"_s));
        QCOMPARE(m_nav.settingsTab(), Nav::SettingsTab::support);
        m_nav.setSettingsTab(Nav::SettingsTab::model);
        QVERIFY(named(bar, u"tab_model"_s)->property("checked").toBool());
        QVERIFY(!named(bar, u"tab_support"_s)->property("checked").toBool());
    }

    // A label and its control share one line on every tab: a layout pass that leaves a
    // control where an earlier pass put it shows it a row or two further down.
    void controlsSitInTheirRows()
    {
        for (const QVariant &tab : SettingsModel::tabs()) {
            m_settings->setSettingsTab(tab.toMap().value(u"value"_s).toString());
            QQuickItem *view = showSettings();
            QVERIFY(view);
            QTest::qWait(50);
            int rows = 0;
            for (QObject *object : everything(view)) {
                auto *row = qobject_cast<QQuickItem *>(object);
                if (!row || !QByteArray(row->metaObject()->className()).startsWith("SettingsRow"))
                    continue;
                ++rows;
                for (QQuickItem *part : row->childItems()) {
                    if (!part->isVisible())
                        continue;
                    QVERIFY2(part->y() >= 0 && part->y() + part->height() <= row->height() + 0.5,
                             qPrintable(tab.toMap().value(u"value"_s).toString() + u": "_s +
                                        row->property("label").toString()));
                }
            }
            if (tab.toMap().value(u"value"_s) == u"general"_s)
                QVERIFY(rows >= 8);
        }
    }

    void switchesAndPreferencesFollowEachOther()
    {
        m_settings->setSettingsTab(u"general"_s);
        QQuickItem *view = showSettings();
        QVERIFY(view);
        QQuickItem *hold = named(view, u"holdToTalkSwitch"_s);
        QVERIFY(hold);
        QCOMPARE(hold->property("checked").toBool(), false);
        click(hold);
        QCOMPARE(Preferences(preferencesPath()).boolean(PreferenceKeys::holdToTalk), std::optional<bool>(true));

        // Another process turns it off again: the switch follows.
        QVERIFY(Preferences(preferencesPath()).setBoolean(PreferenceKeys::holdToTalk, false));
        QTRY_COMPARE(hold->property("checked").toBool(), false);

        // Clipboard-safe insert on shows its extra line; off drops a held dictation.
        QQuickItem *safe = named(view, u"clipboardSafeInsertSwitch"_s);
        click(safe);
        QVERIFY(texts(view).contains(
            u"After dictating, choose Insert Last Murmel Dictation (murmel insert-last) in the active app. You can assign it a keyboard shortcut in the desktop's settings."_s));
        m_safeInsert->hold(u"held"_s);
        click(safe);
        QVERIFY(!m_safeInsert->pending());

        // The login item is the autostart entry.
        click(named(view, u"launchAtLoginSwitch"_s));
        QVERIFY(QFile::exists(LoginItem::entryPath()));
        click(named(view, u"launchAtLoginSwitch"_s));
        QVERIFY(!QFile::exists(LoginItem::entryPath()));

        // The Core ML switch is shown but cannot be used here.
        QVERIFY(!named(view, u"coreMLSwitch"_s));
        m_settings->setSettingsTab(u"model"_s);
        QQuickItem *coreML = named(view, u"coreMLSwitch"_s);
        QVERIFY(coreML);
        QVERIFY(!coreML->isEnabled());
    }

    // A hotkey this desktop does not pass to Murmel: the tab says why, offers sway's line and
    // turns hold to talk off, and all of it goes once the hotkey works again.
    void lostHotkeyOffersTheDesktopsWay()
    {
        m_settings->setSettingsTab(u"general"_s);
        QQuickItem *view = showSettings();
        QVERIFY(view);
        QQuickItem *hold = named(view, u"holdToTalkSwitch"_s);
        QVERIFY(hold->isEnabled());
        const QString line = m_desktopHotkey->swayLine();
        QVERIFY(!texts(view).contains(line));

        m_backend.setActive(false);
        QTRY_VERIFY(texts(view).contains(line));
        QVERIFY(texts(view).contains(u"This desktop offers Murmel no global hotkey."_s));
        QVERIFY(!hold->isEnabled());
        m_permissions->refresh();
        QVERIFY(!m_permissions->hotkeyActive());

        m_backend.setActive(true);
        QTRY_VERIFY(!texts(view).contains(line));
        QVERIFY(hold->isEnabled());
    }

    void pickersWriteTheirPreference()
    {
        m_settings->setSettingsTab(u"model"_s);
        QQuickItem *view = showSettings();
        QVERIFY(view);
        click(named(view, u"speed_accurate"_s));
        QCOMPARE(Preferences(preferencesPath()).string(PreferenceKeys::dictationSpeed), std::optional<QString>(u"accurate"_s));
        QVERIFY(texts(view).contains(u"Uses your file transcription model below."_s));
        click(named(view, u"model_large-v3"_s));
        QCOMPARE(m_settings->whisperModel(), u"large-v3"_s);
        QCOMPARE(m_settings->dictationModel(), u"large-v3"_s);
        QVERIFY(named(view, u"model_large-v3"_s)->property("checked").toBool());

        m_settings->setSettingsTab(u"general"_s);
        QQuickItem *language = named(view, u"languagePicker"_s);
        QVERIFY(language);
        QCOMPARE(language->property("displayText").toString(), u"Detect automatically"_s);
        QVERIFY(Preferences(preferencesPath()).setString(PreferenceKeys::language, u"ja"_s));
        QTRY_COMPARE(language->property("displayText").toString(), u"Japanese"_s);
        QVERIFY(QMetaObject::invokeMethod(language, "activated", Q_ARG(int, 4)));
        QCOMPARE(Preferences(preferencesPath()).string(PreferenceKeys::language), std::optional<QString>(u"de"_s));
    }

    void cleanupEditorsAndKey()
    {
        m_settings->setSettingsTab(u"cleanup"_s);
        QQuickItem *view = showSettings();
        QVERIFY(view);
        click(named(view, u"addStyleButton"_s));
        QCOMPARE(m_customization->styles().size(), 1);
        QStringList shownTexts = texts(view);
        QVERIFY(shownTexts.contains(u"Style name"_s));
        QVERIFY(shownTexts.contains(u"Style instruction"_s));
        QVERIFY(shownTexts.contains(u"Delete this style"_s));
        // The new style joins the picker after a divider.
        QQuickItem *picker = named(view, u"cleanupModePicker"_s);
        QCOMPARE(picker->property("count").toInt(), 9);

        QQuickItem *field = named(view, u"apiKeyField"_s);
        field->forceActiveFocus();
        typeText(u"sk-test"_s);
        QTest::keyClick(m_window.get(), Qt::Key_Return);
        QTRY_VERIFY(m_apiKey->isStored());
        QVERIFY(texts(view).contains(u"Key stored in your keyring"_s));
        QCOMPARE(field->property("text").toString(), QString());
        QCOMPARE(m_secrets.items.value({KeychainHelper::defaultService(), KeychainHelper::apiKeyAccount()}),
                 QByteArray("sk-test"));
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
