#pragma once

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>

#include <memory>

// Makes small pieces of QML inside the Murmel module for tests of its glyphs: each piece is
// placed beside the module's own files, as the application's QML is, so the module's types
// and its Theme singleton come from the directory. Needs the module's plugin imported.
class QmlProbe
{
public:
    QQmlEngine &engine() { return m_engine; }

    // `body` after "import QtQuick"; null (with the errors logged) when it does not load.
    std::unique_ptr<QObject> create(const QString &body)
    {
        QQmlComponent component(&m_engine);
        component.setData((QStringLiteral("import QtQuick\n") + body).toUtf8(),
                          QUrl(QStringLiteral("qrc:/Murmel/Probe.qml")));
        std::unique_ptr<QObject> object(component.create());
        if (!object)
            qCritical("%s", qPrintable(component.errorString()));
        return object;
    }

    // The Theme singleton as this engine has it.
    QObject *theme()
    {
        if (!m_themeHolder)
            m_themeHolder = create(QStringLiteral("QtObject { readonly property QtObject theme: Theme }"));
        return m_themeHolder ? m_themeHolder->property("theme").value<QObject *>() : nullptr;
    }

    // A JavaScript expression in the scope of `scope`, for a view's functions.
    QVariant evaluate(QObject *scope, const QString &expression)
    {
        QQmlExpression qml(m_engine.contextForObject(scope), scope, expression);
        return qml.evaluate();
    }

private:
    QQmlEngine m_engine;
    std::unique_ptr<QObject> m_themeHolder;
};
