// A window's title, for the two ways of finding a program's window.
#pragma once

#include <X11/Xlib.h>

#include <string>

namespace driver {

inline std::string title_of(Display* d, ::Window w) {
    char* name = nullptr;
    std::string title;
    if (XFetchName(d, w, &name) && name) title = name;
    if (name) XFree(name);
    return title;
}

}  // namespace driver
