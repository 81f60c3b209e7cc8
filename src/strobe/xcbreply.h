#pragma once

#include <cstdlib>
#include <memory>

namespace strobe {

// An xcb reply, which the caller frees with free().
template<typename Reply> struct FreeReply
{
    void operator()(Reply *reply) const { std::free(reply); }
};
template<typename Reply> using ReplyPtr = std::unique_ptr<Reply, FreeReply<Reply>>;

} // namespace strobe
