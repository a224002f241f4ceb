#include "speech/modellistmodel.h"
#include "speech/modelstore.h"
#include "testenvironment.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

// The window loads from the compiled module without a warning and shows the store's state.
class TestMainWindow final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadsAndShowsTheModels()
    {
        TestEnvironment environment;
        QTest::failOnWarning(QRegularExpression(u".*"_qs));
        QQuickStyle::setStyle(u"Basic"_qs);
        ModelStore store(environment.dataHome() + u"/Murmel/Models"_qs);
        ModelListModel list(store);
        qmlRegisterSingletonInstance("Murmel", 1, 0, "ModelStore", &store);
        qmlRegisterSingletonInstance("Murmel", 1, 0, "ModelList", &list);

        QQmlApplicationEngine engine;
        engine.load(QUrl(u"qrc:/Murmel/Main.qml"_qs));
        QCOMPARE(engine.rootObjects().size(), 1);
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        QVERIFY(window);
        QCOMPARE(window->title(), u"Murmel"_qs);
        QVERIFY(QTest::qWaitForWindowExposed(window));

        QStringList buttons;
        std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->inherits("QQuickButton"))
                buttons << item->property("text").toString();
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(window->contentItem());
        QCOMPARE(buttons, QStringList(4, u"Download"_qs));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
