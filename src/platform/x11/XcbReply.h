#pragma once
// Owns an xcb reply or event, which the library allocates with malloc and leaves to the caller.

#include <cstdlib>
#include <memory>

struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};

template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;
