#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class KeychainHelper;

// The Cleanup tab's API key field: saves what the user typed to the keychain and tells
// whether a key is stored there. The key itself never comes back out to the screen.
//
// Main thread only. The helper (and its store) must outlive this object.
class ApiKeyField final : public QObject, public QmlSingleton<ApiKeyField>
{
    Q_OBJECT
    QML_NAMED_ELEMENT(ApiKey)
    QML_SINGLETON
    Q_PROPERTY(bool stored READ isStored NOTIFY storedChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)
    // Why the last save failed, empty otherwise.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    explicit ApiKeyField(KeychainHelper &keychain, QObject *parent = nullptr);

    bool isStored() const { return m_stored; }
    bool isBusy() const { return m_busy; }
    QString error() const { return m_error; }

    // Saves a non-empty entry as typed (not trimmed) and emits saved() so the field
    // clears; an empty entry does nothing.
    Q_INVOKABLE void save(const QString &key);
    // Asks the keychain again whether a key is stored.
    Q_INVOKABLE void refresh();

Q_SIGNALS:
    void storedChanged();
    void busyChanged();
    void errorChanged();
    void saved();

private:
    void setStored(bool stored);
    void setBusy(bool busy);
    void setError(const QString &error);

    KeychainHelper &m_keychain;
    bool m_stored = false;
    bool m_busy = false;
    QString m_error;
};
