#pragma once

#include "core/desktop/secretstore.h"

// The Secret Service (GNOME Keyring, KeePassXC, KDE's wallet bridge) through QtKeychain,
// which loads libsecret at run time. An item is QtKeychain's: the service name and key
// are its "server" and "user" attributes. A value that is UTF-8 text without NUL bytes is
// stored as that text, so other Secret Service clients read it as it is; other bytes are
// stored base64-encoded, as QtKeychain does for binary data.
//
// Main thread only; it needs the GLib-based event loop that QCoreApplication runs on
// Linux. Without any Secret Service on the session bus every operation fails at once
// (QtKeychain's OtherError); nothing falls back to a file.
class QtKeychainStore final : public SecretStore
{
public:
    QtKeychainStore() = default;

    QCoro::Task<ReadResult> read(QString service, QString key) override;
    QCoro::Task<std::optional<Error>> write(QString service, QString key, QByteArray value) override;
    QCoro::Task<std::optional<Error>> remove(QString service, QString key) override;
};
