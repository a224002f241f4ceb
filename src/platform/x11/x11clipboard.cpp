#include "platform/x11/x11clipboard.h"

#include "core/base/logging.h"
#include "platform/x11/xcbreply.h"

#include <QCoroSignal>
#include <QSocketNotifier>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace {

using Xcb::Reply;

enum Atom { clipboardAtom, primaryAtom, targetsAtom, utf8Atom, textAtom, plainUtf8Atom, plainAtom, timestampAtom,
            stampAtom };
const char *const atomNames[] = {"CLIPBOARD",  "PRIMARY",    "TARGETS",   "UTF8_STRING",         "TEXT",
                                 "text/plain;charset=utf-8", "text/plain", "TIMESTAMP", "_MURMEL_TIMESTAMP"};

} // namespace

X11Clipboard::X11Clipboard(const QByteArray &display, QObject *parent)
    : QObject(parent)
    , m_connection(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr))
{
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_intern_atom_cookie_t cookies[std::size(atomNames)];
    for (size_t index = 0; index < std::size(atomNames); ++index)
        cookies[index] = xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(atomNames[index])), atomNames[index]);
    for (size_t index = 0; index < std::size(atomNames); ++index) {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookies[index], nullptr));
        m_atoms[index] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_window = xcb_generate_id(m_connection);
    // Property changes on our own window give the server times that ownership needs.
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    xcb_flush(m_connection);
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11Clipboard::readEvents);
}

X11Clipboard::~X11Clipboard()
{
    m_notifier.reset();
    xcb_disconnect(m_connection);
}

bool X11Clipboard::isAvailable() const
{
    return m_window != 0 && !xcb_connection_has_error(m_connection);
}

bool X11Clipboard::setText(const QString &text)
{
    const bool owned = own(clipboard, text);
    // Requests answered while taking the selection were for the text before.
    m_readSinceWrite = false;
    return owned;
}

QCoro::Task<bool> X11Clipboard::whenShared()
{
    if (m_readSinceWrite)
        co_return true;
    auto reading = qCoro(this, &X11Clipboard::clipboardRead, shareTimeout);
    co_return (co_await std::move(reading)).has_value();
}

bool X11Clipboard::setPrimaryText(const QString &text)
{
    return own(primary, text);
}

uint32_t X11Clipboard::serverTime()
{
    // ICCCM wants a real server time for ownership: append nothing to a property of ours
    // and read the time off the notification.
    xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_window, m_atoms[stampAtom], XCB_ATOM_STRING, 8, 0,
                        nullptr);
    xcb_flush(m_connection);
    uint32_t time = XCB_CURRENT_TIME;
    while (xcb_generic_event_t *event = xcb_wait_for_event(m_connection)) {
        const Reply<xcb_generic_event_t> owned(event);
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto *notify = reinterpret_cast<xcb_property_notify_event_t *>(event);
            if (notify->window == m_window && notify->atom == m_atoms[stampAtom]) {
                time = notify->time;
                break;
            }
        } else {
            answer(event);
        }
    }
    return time;
}

bool X11Clipboard::own(Selection which, const QString &text)
{
    if (!isAvailable())
        return false;
    const QByteArray bytes = text.toUtf8();
    // One property change must carry the whole text.
    if (qsizetype(xcb_get_maximum_request_length(m_connection)) * 4 - 64 < bytes.size()) {
        qCWarning(lcPlatform) << "the text is too large for the X clipboard";
        return false;
    }
    m_texts[which] = text;
    const xcb_atom_t selection = m_atoms[which == clipboard ? clipboardAtom : primaryAtom];
    xcb_set_selection_owner(m_connection, m_window, selection, serverTime());
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, selection), nullptr));
    m_owned[which] = owner && owner->owner == m_window;
    return m_owned[which];
}

void X11Clipboard::readEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        const Reply<xcb_generic_event_t> owned(event);
        answer(event);
    }
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
}

void X11Clipboard::answer(const void *generic)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(generic);
    switch (event->response_type & 0x7f) {
    case XCB_SELECTION_CLEAR: {
        const auto *clear = reinterpret_cast<const xcb_selection_clear_event_t *>(event);
        for (Selection which : {clipboard, primary}) {
            if (clear->selection == m_atoms[which == clipboard ? clipboardAtom : primaryAtom]) {
                m_owned[which] = false;
                m_texts[which].clear();
            }
        }
        break;
    }
    case XCB_SELECTION_REQUEST: {
        const auto *request = reinterpret_cast<const xcb_selection_request_event_t *>(event);
        const int which = request->selection == m_atoms[clipboardAtom] ? clipboard
                          : request->selection == m_atoms[primaryAtom] ? primary
                                                                        : -1;
        // An old client names no property: the target is the property then.
        const xcb_atom_t property = request->property == XCB_ATOM_NONE ? request->target : request->property;
        bool served = false;
        if (which >= 0 && m_owned[which]) {
            const xcb_atom_t target = request->target;
            if (target == m_atoms[targetsAtom]) {
                const std::vector<xcb_atom_t> targets{m_atoms[targetsAtom], m_atoms[utf8Atom], m_atoms[plainUtf8Atom],
                                                      m_atoms[plainAtom], m_atoms[textAtom], XCB_ATOM_STRING};
                xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request->requestor, property, XCB_ATOM_ATOM,
                                    32, uint32_t(targets.size()), targets.data());
                served = true;
            } else if (target == m_atoms[utf8Atom] || target == m_atoms[plainUtf8Atom] || target == m_atoms[plainAtom] ||
                       target == m_atoms[textAtom] || target == XCB_ATOM_STRING) {
                // STRING is Latin-1 by definition; everything else gets UTF-8.
                const QByteArray bytes =
                    target == XCB_ATOM_STRING ? m_texts[which].toLatin1() : m_texts[which].toUtf8();
                // TEXT is answered as UTF-8, every other target as what was asked for.
                const xcb_atom_t type = target == m_atoms[textAtom] ? m_atoms[utf8Atom] : target;
                xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request->requestor, property, type, 8,
                                    uint32_t(bytes.size()), bytes.constData());
                served = true;
            }
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request->time;
        notify.requestor = request->requestor;
        notify.selection = request->selection;
        notify.target = request->target;
        notify.property = served ? property : xcb_atom_t(XCB_ATOM_NONE);
        xcb_send_event(m_connection, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&notify));
        xcb_flush(m_connection);
        if (served && which == clipboard && !std::exchange(m_readSinceWrite, true))
            Q_EMIT clipboardRead();
        break;
    }
    default:
        break;
    }
}
