#pragma once

#include <cstdlib>
#include <memory>

namespace handles {

// Frees with the system library's own release function, such as
// dbus_message_unref: Owned<DBusMessage, dbus_message_unref>.
template<auto Release> struct ReleaseWith
{
    template<typename T> void operator()(T *owned) const { Release(owned); }
};
template<typename T, auto Release> using Owned = std::unique_ptr<T, ReleaseWith<Release>>;

// What a C library allocated with malloc() for the caller to free (an xcb
// reply or event).
struct FreeMalloced
{
    void operator()(void *owned) const { std::free(owned); }
};
template<typename T> using Malloced = std::unique_ptr<T, FreeMalloced>;

} // namespace handles
