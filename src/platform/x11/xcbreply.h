#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

// What every X11 facility here asks the server: replies owned until the end of the scope,
// atoms by name, and a window's property.
namespace Xcb {

struct FreeReply
{
    void operator()(void *reply) const { std::free(reply); }
};
template<typename T> using Reply = std::unique_ptr<T, FreeReply>;

// XCB_ATOM_NONE when the server has no such atom (with `onlyIfExists`) or does not answer.
inline xcb_atom_t atom(xcb_connection_t *connection, const char *name, bool onlyIfExists = false)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, onlyIfExists, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The first `longs` 32-bit units of a property of type `type`; empty when it is not set.
inline Reply<xcb_get_property_reply_t> property(xcb_connection_t *connection, xcb_window_t window,
                                                xcb_atom_t name, xcb_atom_t type, uint32_t longs)
{
    if (name == XCB_ATOM_NONE)
        return {};
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, name, type, 0, longs), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || xcb_get_property_value_length(reply.get()) <= 0)
        return {};
    return reply;
}

} // namespace Xcb
