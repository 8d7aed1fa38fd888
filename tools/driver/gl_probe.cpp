#include "driver/gl_probe.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstring>

#include "driver/driver.h"

namespace driver {

namespace {
std::string text(GLenum name) {
    const GLubyte* s = glGetString(name);
    return s ? reinterpret_cast<const char*>(s) : "";
}


// Whether the display's GLX extension string names `name` as a whole word.
bool has_extension(Display* d, const char* name) {
    const char* extensions = glXQueryExtensionsString(d, DefaultScreen(d));
    if (!extensions) return false;
    const std::size_t n = std::strlen(name);
    for (const char* p = std::strstr(extensions, name); p; p = std::strstr(p + 1, name))
        if ((p == extensions || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    return false;
}

// Read where GLX_EXT_swap_control or GLX_MESA_swap_control allow it.
std::optional<int> swap_interval(Display* d, GLXDrawable w) {
    const auto has = [&](const char* name) { return has_extension(d, name); };
    if (has("GLX_EXT_swap_control")) {
        unsigned value = 0;
        glXQueryDrawable(d, w, GLX_SWAP_INTERVAL_EXT, &value);
        return static_cast<int>(value);
    }
    if (has("GLX_MESA_swap_control")) {
        using get_interval = int (*)();
        if (auto f = reinterpret_cast<get_interval>(glXGetProcAddressARB(
                reinterpret_cast<const GLubyte*>("glXGetSwapIntervalMESA"))))
            return f();
    }
    return std::nullopt;
}

// The current context's renderer says whether it is accelerated, where the
// driver offers GLX_MESA_query_renderer.
std::optional<bool> accelerated(Display* d) {
    if (!has_extension(d, "GLX_MESA_query_renderer")) return std::nullopt;
    using query = Bool (*)(int, unsigned*);
    const auto f = reinterpret_cast<query>(glXGetProcAddressARB(
        reinterpret_cast<const GLubyte*>("glXQueryCurrentRendererIntegerMESA")));
    unsigned value = 0;
    if (!f || !f(GLX_RENDERER_ACCELERATED_MESA, &value)) return std::nullopt;
    return value != 0;
}
}  // namespace

std::optional<gl_info> probe_gl(const std::string& display) {
    Display* d = open_display(display);
    if (!d) return std::nullopt;
    // RGBA with alpha, double-buffered, depth, stencil and accumulation: the
    // frame buffer the benchmarks request.
    int attributes[] = {GLX_RGBA,          GLX_DOUBLEBUFFER,    GLX_RED_SIZE,       1,
                        GLX_GREEN_SIZE,    1,                   GLX_BLUE_SIZE,      1,
                        GLX_ALPHA_SIZE,    1,                   GLX_DEPTH_SIZE,     1,
                        GLX_STENCIL_SIZE,  1,                   GLX_ACCUM_RED_SIZE, 1,
                        None};
    std::optional<gl_info> info;
    if (XVisualInfo* visual = glXChooseVisual(d, DefaultScreen(d), attributes)) {
        XSetWindowAttributes wa{};
        wa.colormap = XCreateColormap(d, DefaultRootWindow(d), visual->visual, AllocNone);
        ::Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 16, 16, 0, visual->depth,
                                 InputOutput, visual->visual, CWColormap, &wa);
        if (GLXContext c = glXCreateContext(d, visual, nullptr, True)) {
            if (glXMakeCurrent(d, w, c)) {
                info.emplace();
                info->vendor = text(GL_VENDOR);
                info->renderer = text(GL_RENDERER);
                info->version = text(GL_VERSION);
                glGetIntegerv(GL_RED_BITS, &info->red_bits);
                glGetIntegerv(GL_GREEN_BITS, &info->green_bits);
                glGetIntegerv(GL_BLUE_BITS, &info->blue_bits);
                glGetIntegerv(GL_ALPHA_BITS, &info->alpha_bits);
                glGetIntegerv(GL_DEPTH_BITS, &info->depth_bits);
                glGetIntegerv(GL_STENCIL_BITS, &info->stencil_bits);
                info->swap_interval = swap_interval(d, w);
                info->accelerated = accelerated(d);
                info->direct = glXIsDirect(d, c);
                glXMakeCurrent(d, None, nullptr);
            }
            glXDestroyContext(d, c);
        }
        XDestroyWindow(d, w);
        XFreeColormap(d, wa.colormap);
        XFree(visual);
    }
    XCloseDisplay(d);
    return info;
}

}  // namespace driver
