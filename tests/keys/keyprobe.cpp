// A window of its own process that takes the keyboard focus and prints each key press it receives as
// the keysym name the layout gives it, one a line: the far end of the typing tests and benchmark.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <utility>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 1;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 120, 0, 0, 0xFFFFFF);
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask | FocusChangeMask);
    XMapRaised(display, window);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Reads the keymap now, as toolkits do at start-up, and with it asks for the news of its changes: a
    // client that first reads it while a key is being lent may miss that change.
    XKeysymToKeycode(display, XK_a);
    for (bool ready = false;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) XSetInputFocus(display, window, RevertToParent, CurrentTime);
        if (event.type == FocusIn && !std::exchange(ready, true)) std::printf("ready\n");
        if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
        if (event.type != KeyPress) continue;
        char text[32];
        KeySym keysym = NoSymbol;
        XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
        const char* name = XKeysymToString(keysym);
        std::printf("%s\n", name ? name : "?");
    }
}
