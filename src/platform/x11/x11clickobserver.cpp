#include "platform/x11/x11clickobserver.h"

#include "core/base/logging.h"
#include "platform/x11/xcbreply.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSocketNotifier>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdlib>
#include <memory>

namespace {

using Xcb::Reply;

// Raw events reach us even while another client holds a grab only from XInput 2.1 on:
// with 2.0 semantics a window manager's click-to-focus grab would swallow them.
constexpr uint16_t wantedMajor = 2;
constexpr uint16_t wantedMinor = 2;
constexpr uint16_t leastMinor = 1;

// Deep enough for any real window tree; a bound against a tree that changes under us.
constexpr int maxTreeDepth = 32;

constexpr uint8_t leftButton = 1;

struct RawEventMask
{
    xcb_input_event_mask_t head;
    uint32_t mask;
};

} // namespace

X11ClickObserver::X11ClickObserver(const QByteArray &display, bool underWayland, QObject *parent)
    : ClickObserver(parent)
    , m_displayName(display)
    , m_underWayland(underWayland)
{}

X11ClickObserver::~X11ClickObserver()
{
    stop();
    m_notifier.reset();
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11ClickObserver::connectToDisplay()
{
    if (m_connection)
        return !xcb_connection_has_error(m_connection);

    int screenNumber = 0;
    m_connection = xcb_connect(m_displayName.isEmpty() ? nullptr : m_displayName.constData(), &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        qCInfo(lcPlatform) << "click observer: cannot open the X display"
                           << (m_displayName.isEmpty() ? qgetenv("DISPLAY") : m_displayName)
                           << "- only clicks in Murmel's own windows are seen";
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;

    const xcb_query_extension_reply_t *xinput = xcb_get_extension_data(m_connection, &xcb_input_id);
    if (xinput && xinput->present) {
        // The server treats a client by the version it announces: this request is what
        // makes raw events bypass grabs for us.
        const Reply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
            m_connection, xcb_input_xi_query_version(m_connection, wantedMajor, wantedMinor), nullptr));
        m_hasXInput = version
            && (version->major_version > wantedMajor
                || (version->major_version == wantedMajor && version->minor_version >= leastMinor));
        m_xinputOpcode = xinput->major_opcode;
    }
    if (!m_hasXInput)
        qCInfo(lcPlatform) << "click observer: the X server offers no XInput 2.1, so clicks in other"
                              " applications cannot be seen";

    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
    m_notifier->setEnabled(false);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11ClickObserver::readEvents);
    return true;
}

bool X11ClickObserver::start()
{
    if (!m_filtering && QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
        m_filtering = true;
    }
    if (m_watching)
        return true;
    if (!connectToDisplay() || !m_hasXInput)
        return false;

    readMappings();
    if (!selectRawEvents(true))
        return false;
    m_watching = true;
    m_notifier->setEnabled(true);
    // Waiting for the replies above may have moved events into xcb's queue, which the
    // socket notifier no longer hears about.
    QMetaObject::invokeMethod(this, &X11ClickObserver::readEvents, Qt::QueuedConnection);
    return true;
}

void X11ClickObserver::stop()
{
    if (m_filtering && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeEventFilter(this);
        m_filtering = false;
    }
    if (!m_watching)
        return;
    m_watching = false;
    m_notifier->setEnabled(false);
    selectRawEvents(false);
    // A second click of a quick double click may already be on its way; it must not count
    // at the next start.
    discardQueuedEvents();
}

bool X11ClickObserver::selectRawEvents(bool on)
{
    RawEventMask mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                      on ? uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS)
                         : 0u};
    const xcb_void_cookie_t cookie = xcb_input_xi_select_events_checked(m_connection, m_root, 1, &mask.head);
    const Reply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie));
    if (error) {
        qCWarning(lcPlatform) << "click observer: the X server refused the raw input selection, error"
                              << error->error_code;
        return false;
    }
    return true;
}

void X11ClickObserver::readMappings()
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const auto keyboardCookie = xcb_get_keyboard_mapping(
        m_connection, setup->min_keycode, static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1));
    const auto pointerCookie = xcb_get_pointer_mapping(m_connection);

    m_escapeKeyCodes.clear();
    const Reply<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(m_connection, keyboardCookie, nullptr));
    if (keyboard && keyboard->keysyms_per_keycode > 0) {
        const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(keyboard.get());
        const int count = xcb_get_keyboard_mapping_keysyms_length(keyboard.get());
        const int perKey = keyboard->keysyms_per_keycode;
        for (int index = 0; index < count; ++index) {
            if (symbols[index] == XKB_KEY_Escape)
                m_escapeKeyCodes.insert(static_cast<uint8_t>(setup->min_keycode + index / perKey));
        }
    }
    if (m_escapeKeyCodes.isEmpty())
        qCInfo(lcPlatform) << "click observer: no key of this keyboard types Escape";

    m_buttonMap.clear();
    const Reply<xcb_get_pointer_mapping_reply_t> pointer(
        xcb_get_pointer_mapping_reply(m_connection, pointerCookie, nullptr));
    if (pointer) {
        const uint8_t *map = xcb_get_pointer_mapping_map(pointer.get());
        const int length = xcb_get_pointer_mapping_map_length(pointer.get());
        m_buttonMap.reserve(length);
        for (int i = 0; i < length; ++i)
            m_buttonMap.append(map[i]);
    }
}

void X11ClickObserver::discardQueuedEvents()
{
    // Once this reply is in, the server has handled the withdrawn selection and everything
    // it sent before is in our queue.
    const Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(m_connection)}) {
    }
}

void X11ClickObserver::readEvents()
{
    if (!m_connection)
        return;
    const QPointer<X11ClickObserver> self(this);
    while (m_watching) {
        const Reply<xcb_generic_event_t> event(xcb_poll_for_event(m_connection));
        if (!event)
            break;
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_GE_GENERIC) {
            const auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event.get());
            if (generic->extension == m_xinputOpcode)
                handleRawEvent(generic->event_type, event.get());
        } else if (type == XCB_MAPPING_NOTIFY) {
            readMappings();
        } else if (type == 0) {
            const auto *error = reinterpret_cast<const xcb_generic_error_t *>(event.get());
            qCDebug(lcPlatform) << "click observer: X error" << error->error_code << "for request"
                                << error->major_code;
        }
        // A receiver may have stopped us (the events left are then void) or deleted us.
        if (!self)
            return;
    }
    if (xcb_connection_has_error(m_connection)) {
        qCWarning(lcPlatform) << "click observer: the connection to the X server broke";
        m_notifier->setEnabled(false);
        m_watching = false;
    }
}

void X11ClickObserver::handleRawEvent(uint16_t type, const void *event)
{
    if (type == XCB_INPUT_RAW_BUTTON_PRESS) {
        const auto *press = static_cast<const xcb_input_raw_button_press_event_t *>(event);
        // The raw button is the physical one; a left-handed mapping makes another one the
        // primary button.
        const uint32_t physical = press->detail;
        const uint32_t logical = physical >= 1 && physical <= uint32_t(m_buttonMap.size())
            ? m_buttonMap.at(int(physical - 1))
            : physical;
        if (logical != leftButton)
            return;
        switch (windowUnderPointer()) {
        case ClickTarget::ownClientArea:
            break;
        case ClickTarget::ownFrame:
            Q_EMIT ownWindowClick();
            break;
        case ClickTarget::elsewhere:
            Q_EMIT outsideClick();
            break;
        }
    } else if (type == XCB_INPUT_RAW_KEY_PRESS) {
        const auto *press = static_cast<const xcb_input_raw_key_press_event_t *>(event);
        if (press->flags & XCB_INPUT_KEY_EVENT_FLAGS_KEY_REPEAT)
            return;
        if (press->detail > 255 || !m_escapeKeyCodes.contains(static_cast<uint8_t>(press->detail)))
            return;
        if (!inputFocusIsOurs())
            Q_EMIT escapePressed();
    }
}

QSet<uint32_t> X11ClickObserver::ownWindows() const
{
    QSet<uint32_t> windows;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())
        || QGuiApplication::platformName() != QLatin1String("xcb"))
        return windows;
    const QWindowList all = QGuiApplication::allWindows();
    for (const QWindow *window : all) {
        // winId() would create a native window for one that has none yet.
        if (window->handle())
            windows.insert(static_cast<uint32_t>(window->winId()));
    }
    return windows;
}

QSet<uint32_t> X11ClickObserver::ownFrames() const
{
    QSet<uint32_t> frames;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())
        || QGuiApplication::platformName() != QLatin1String("xcb"))
        return frames;
    const QWindowList all = QGuiApplication::allWindows();
    for (const QWindow *window : all) {
        if (!window->handle() || !window->isTopLevel() || !window->isVisible())
            continue;
        auto current = static_cast<xcb_window_t>(window->winId());
        for (int depth = 0; depth < maxTreeDepth; ++depth) {
            const Reply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, current), nullptr));
            if (!tree)
                break;
            if (tree->parent == m_root || tree->parent == XCB_WINDOW_NONE) {
                frames.insert(current);
                break;
            }
            current = tree->parent;
        }
    }
    return frames;
}

X11ClickObserver::ClickTarget X11ClickObserver::windowUnderPointer() const
{
    const QSet<uint32_t> own = ownWindows();
    xcb_window_t window = m_root;
    xcb_window_t topLevel = XCB_WINDOW_NONE;
    for (int depth = 0; depth < maxTreeDepth; ++depth) {
        const Reply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, window), nullptr));
        if (!pointer || !pointer->same_screen || pointer->child == XCB_WINDOW_NONE)
            break;
        if (topLevel == XCB_WINDOW_NONE)
            topLevel = pointer->child;
        if (own.contains(pointer->child))
            return ClickTarget::ownClientArea;
        window = pointer->child;
    }
    if (topLevel != XCB_WINDOW_NONE && !own.isEmpty() && ownFrames().contains(topLevel))
        return ClickTarget::ownFrame;
    return ClickTarget::elsewhere;
}

bool X11ClickObserver::inputFocusIsOurs() const
{
    const QSet<uint32_t> own = ownWindows();
    if (own.isEmpty())
        return false;
    const Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (!focus)
        return false;
    // With focus following the pointer, keys go to the window under it.
    if (focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return windowUnderPointer() == ClickTarget::ownClientArea;
    return own.contains(focus->focus);
}

bool X11ClickObserver::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        // Qt hands a press to the window first and then to the widget or item inside it:
        // one of them is enough.
        if (watched->isWindowType() && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            Q_EMIT ownWindowClick();
        break;
    case QEvent::ShortcutOverride:
        // Claiming Escape here keeps any shortcut on it from acting, so the key press
        // itself comes by, where it is swallowed.
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (watched->isWindowType() && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
                Q_EMIT escapePressed();
            return true;
        }
        break;
    default:
        break;
    }
    return ClickObserver::eventFilter(watched, event);
}
