#pragma once

#include "core/desktop/clipboard.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

struct xcb_connection_t;
class QSocketNotifier;

// The X11 clipboard owned on a connection of Murmel's own, whatever platform Qt's windows
// use. It is the clipboard path on a Wayland desktop without a data-control protocol (GNOME):
// mutter copies what an XWayland client owns over to its Wayland clients.
//
// A write counts once the server names our window the owner. Text larger than one X
// request (16 MB with big requests) is refused rather than sent in pieces.
//
// Main thread only. Without a display nothing can be set.
class X11Clipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    // Connects to `display` (":1"), or to $DISPLAY when it is empty.
    explicit X11Clipboard(const QByteArray &display = {}, QObject *parent = nullptr);
    ~X11Clipboard() override;

    bool isAvailable() const;
    bool setText(const QString &text) override;
    bool setPrimaryText(const QString &text) override;
    // True once another client has read the clipboard since the last write (mutter reads it
    // to offer it to Wayland clients); false when none has within `shareTimeout`.
    QCoro::Task<bool> whenShared() override;

    // mutter reads the selection a turn of its main loop after the change; a busy desktop
    // (software rendering under load) has taken over a second, and a longer wait costs
    // nothing where the read comes.
    static constexpr std::chrono::milliseconds shareTimeout{3000};

Q_SIGNALS:
    // Another client read the CLIPBOARD selection we own.
    void clipboardRead();

private:
    enum Selection { clipboard = 0, primary = 1 };

    bool own(Selection which, const QString &text);
    void readEvents();
    void answer(const void *request);
    uint32_t serverTime();

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_window = 0;
    uint32_t m_atoms[9] = {};
    QString m_texts[2];
    bool m_owned[2] = {false, false};
    bool m_readSinceWrite = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
