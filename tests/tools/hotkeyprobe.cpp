// A window that reports every key event it receives on standard output, one per line:
// "window <id>" once it is mapped, "focus" when it gets the keyboard focus, then
// "press <keycode> <state>" and "release <keycode> <state>". Tests use it as the
// focused application to see which keys reach applications and which were taken
// before them.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <poll.h>

int main()
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_screen_t *screen = screens.data;

    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t events = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_FOCUS_CHANGE
        | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    const uint32_t values[] = {screen->white_pixel, events};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 100, 100, 320, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);
    const char title[] = "murmel-hotkey-probe";
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof title - 1, title);
    xcb_map_window(connection, window);
    xcb_flush(connection);

    // A window manager that has only just announced itself may still drop a map request
    // (openbox does while it starts up), so ask again until the window is on screen.
    bool mapped = false;
    pollfd socket{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (!xcb_connection_has_error(connection)) {
        xcb_generic_event_t *event = xcb_poll_for_event(connection);
        if (!event) {
            if (poll(&socket, 1, mapped ? -1 : 250) == 0) {
                xcb_map_window(connection, window);
                xcb_flush(connection);
            }
            continue;
        }
        switch (event->response_type & 0x7f) {
        case XCB_MAP_NOTIFY:
            if (!mapped)
                std::printf("window %u\n", window);
            mapped = true;
            break;
        case XCB_FOCUS_IN:
            std::printf("focus\n");
            break;
        case XCB_KEY_PRESS: {
            const auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
            std::printf("press %u %u\n", key->detail, key->state);
            break;
        }
        case XCB_KEY_RELEASE: {
            const auto *key = reinterpret_cast<xcb_key_release_event_t *>(event);
            std::printf("release %u %u\n", key->detail, key->state);
            break;
        }
        default:
            break;
        }
        std::fflush(stdout);
        std::free(event);
    }
    return 0;
}
