/* close-window WINDOW-ID: asks an X11 window to close, as a window manager's
 * close button does: a WM_PROTOCOLS client message with WM_DELETE_WINDOW.
 * The program receives a close request and runs its normal shutdown.
 * Exits 1 when the window does not take WM_DELETE_WINDOW or the message
 * cannot be sent. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: close-window WINDOW-ID\n");
        return 2;
    }
    char* end = NULL;
    const unsigned long id = strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0') {
        fprintf(stderr, "close-window: not a window id: %s\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "close-window: cannot open the display\n");
        return 1;
    }
    const Window window = (Window)id;
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    Atom* supported = NULL;
    int count = 0;
    int takesDelete = 0;
    if (XGetWMProtocols(display, window, &supported, &count)) {
        for (int i = 0; i < count; ++i)
            if (supported[i] == deleteWindow)
                takesDelete = 1;
        XFree(supported);
    }
    if (!takesDelete) {
        fprintf(stderr, "close-window: window 0x%lx does not take WM_DELETE_WINDOW\n", id);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event = {0};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)deleteWindow;
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    if (!sent) {
        fprintf(stderr, "close-window: sending the close request failed\n");
        return 1;
    }
    return 0;
}
