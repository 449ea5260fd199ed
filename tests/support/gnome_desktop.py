#!/usr/bin/python3
# The user's side of a headless GNOME desktop for the screen-cast tests (GnomeDesktop starts it beside the
# compositor): a full-screen window per monitor that shows the pictures the test paints, and the hands that
# answer the desktop's share dialog over the accessibility bus. One command a line on stdin, one answer a
# line on stdout:
#   paint N FILE          FILE full screen on monitor N (1 = the top left one); "paint N" shows the picture
#                         before it again. Answers once the compositor has the frame.
#   answer share [N ...]  how the share dialog is answered from now on, whenever it shows: select its list
#   answer cancel         rows N (1 = the first; all when none) and press Share, or press Cancel
#   asked                 how many dialogs were answered since the last "asked" or "answer"
#   scale S1 S2 ...       the monitors side by side from the origin in the compositor's order (its first
#                         connector at the left), at these scales
#   sessions              how many screen-cast sessions the compositor holds
# "--missing" prints the first package not installed, if any. Python from the system (/usr/bin/python3):
# that is where the GObject bindings are.
import os
import sys
import time


def missing():
    for package, path in [("pipewire", "/usr/bin/pipewire"), ("wireplumber", "/usr/bin/wireplumber"),
                          ("xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal"), ("mutter", "/usr/bin/mutter"),
                          ("xdg-desktop-portal-gnome", "/usr/libexec/xdg-desktop-portal-gnome"),
                          ("at-spi2-core", "/usr/libexec/at-spi-bus-launcher")]:
        if not os.path.exists(path):
            return package
    import gi
    for package, name, version in [("gir1.2-gtk-4.0", "Gtk", "4.0"), ("gir1.2-atspi-2.0", "Atspi", "2.0")]:
        try:
            gi.require_version(name, version)
        except ValueError:
            return package
    return ""


if sys.argv[1:] == ["--missing"]:
    print(missing())
    sys.exit(0)

# Our own windows stay off the accessibility bus: a search of it would otherwise wait on this very process.
os.environ["GTK_A11Y"] = "none"
os.environ.setdefault("GSK_RENDERER", "cairo")
os.environ.setdefault("WAYLAND_DISPLAY", "wayland-0")

import gi  # noqa: E402

gi.require_version("Gdk", "4.0")
gi.require_version("Gtk", "4.0")
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gdk, Gio, GLib, Gtk  # noqa: E402

DISPLAY = "org.gnome.Mutter.DisplayConfig"
DISPLAY_PATH = "/org/gnome/Mutter/DisplayConfig"
WAIT_S = 8


def monitor(n):
    """Monitor n, 1 being the top left one, as the compositor has them now."""
    model = Gdk.Display.get_default().get_monitors()
    monitors = [model.get_item(i) for i in range(model.get_n_items())]
    return sorted(monitors, key=lambda m: (m.get_geometry().y, m.get_geometry().x))[n - 1]


class Screen:
    """A full-screen window on one monitor and the pictures it showed."""

    def __init__(self, n, textures=()):
        self.n = n
        self.picture = Gtk.Picture(can_shrink=True, content_fit=Gtk.ContentFit.FILL)
        self.window = Gtk.Window(child=self.picture, decorated=False)
        self.textures = list(textures)
        self.picture.set_paintable(self.textures[-1] if self.textures else None)
        self.waiting = False
        self.window.fullscreen_on_monitor(monitor(n))
        self.window.present()
        self.window.get_frame_clock().connect("after-paint", self.painted)

    def show(self, path):
        if path:
            self.textures = (self.textures + [Gdk.Texture.new_from_filename(path)])[-2:]
        else:
            self.textures.reverse()
        self.picture.set_paintable(self.textures[-1])
        self.waiting = True
        self.window.queue_draw()

    def placed(self):
        return self.window.is_fullscreen() and self.window.get_width() == monitor(self.n).get_geometry().width

    def painted(self, _clock):
        # The first frames may come before the window has its place.
        if self.waiting and self.placed():
            self.waiting = False
            reply("ok")


def reply(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def find(node, wanted, depth=0):
    if wanted(node):
        return node
    for i in range(node.get_child_count() if depth < 12 else 0):
        child = node.get_child_at_index(i)
        hit = child and find(child, wanted, depth + 1)
        if hit:
            return hit
    return None


def dialogs():
    desktop = Atspi.get_desktop(0)
    shown = []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app and app.get_name() == "xdg-desktop-portal-gnome":
            shown += [w for w in (app.get_child_at_index(j) for j in range(app.get_child_count()))
                      if w and w.get_name() == "Screen Share"]
    return shown


def pump(done):
    """Runs the main loop until done() or a few seconds have passed; whether done."""
    deadline = time.monotonic() + WAIT_S
    while not done():
        if time.monotonic() > deadline:
            return False
        if not GLib.MainContext.default().iteration(False):
            time.sleep(0.02)
    return True


class User:
    """Answers every share dialog that shows, the way the test said."""

    def __init__(self):
        self.choice, self.rows, self.asked = "share", [], 0
        GLib.timeout_add(200, self.look)

    def look(self):
        try:
            shown = dialogs()
            if shown:
                self.asked += 1
                answer(shown[0], self.choice, self.rows)
        except GLib.Error as error:  # a portal that goes away while it is looked at
            print("dialog:", error, file=sys.stderr)
        return GLib.SOURCE_CONTINUE


def answer(dialog, choice, rows):
    if choice == "share":
        monitors = find(dialog, lambda a: a.get_role() == Atspi.Role.LIST)
        pump(lambda: monitors.get_child_count() > 0)
        for row in rows or range(1, monitors.get_child_count() + 1):
            Atspi.Selection.select_child(monitors, row - 1)
    label = {"share": "Share", "cancel": "Cancel"}[choice]
    button = find(dialog, lambda a: a.get_role() == Atspi.Role.PUSH_BUTTON and label in a.get_name())
    # Gone before the next look, so that it counts once.
    if button and Atspi.Action.do_action(button, 0):
        pump(lambda: not dialogs())


def call(name, path, interface, method, args=None):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    return bus.call_sync(name, path, interface, method, args, None, Gio.DBusCallFlags.NONE, 10000,
                         None).unpack()


def scale(screens, factors):
    serial, monitors, _, _ = call(DISPLAY, DISPLAY_PATH, DISPLAY, "GetCurrentState")
    layout, x = [], 0
    for (spec, modes, _), factor in zip(monitors, factors):
        mode = next(m for m in modes if m[6].get("is-current"))
        layout.append((x, 0, factor, 0, x == 0, [(spec[0], mode[0], {})]))
        x += int(mode[1] / factor)
    # Temporary: a persistent change would wait for a confirmation that no shell gives here.
    call(DISPLAY, DISPLAY_PATH, DISPLAY, "ApplyMonitorsConfig",
         GLib.Variant("(uua(iiduba(ssa{sv}))a{sv})", (serial, 1, layout, {})))
    # The compositor leaves windows where they were, over whichever monitor is there now: each monitor gets
    # a new one once this side has heard of the new places.
    if not pump(lambda: [monitor(i + 1).get_geometry().x for i in range(len(layout))] == [m[0] for m in layout]):
        return "layout not applied"
    for n, old in list(screens.items()):
        screens[n] = Screen(n, old.textures)
        old.window.destroy()
    return "ok" if pump(lambda: all(screen.placed() for screen in screens.values())) else "not placed"


def sessions():
    xml = call("org.gnome.Mutter.ScreenCast", "/org/gnome/Mutter/ScreenCast/Session",
               "org.freedesktop.DBus.Introspectable", "Introspect")[0]
    return str(xml.count("<node name="))


def command(screens, user, line):
    words = line.split()
    if words[0] == "paint":
        n = int(words[1])
        if n not in screens:
            screens[n] = Screen(n)
        screens[n].show(words[2] if len(words) > 2 else None)
        return None
    if words[0] == "answer" and words[1] in ("share", "cancel"):
        user.choice, user.rows, user.asked = words[1], [int(w) for w in words[2:]], 0
        return "ok"
    if words[0] == "asked":
        asked, user.asked = user.asked, 0
        return str(asked)
    if words[0] == "scale":
        return scale(screens, [float(w) for w in words[1:]])
    if words[0] == "sessions":
        return sessions()
    return "unknown command"


def main():
    Gtk.init()
    screens = {}
    user = User()

    def on_input(stream, result):
        line = stream.read_line_finish_utf8(result)[0]
        if line is None:
            loop.quit()
            return
        try:
            text = command(screens, user, line) if line.strip() else "empty"
        except (GLib.Error, IndexError, ValueError, StopIteration) as error:
            text = "error " + str(error).replace("\n", " ")
        if text is not None:
            reply(text)
        stream.read_line_async(GLib.PRIORITY_DEFAULT, None, on_input)

    stdin = Gio.DataInputStream.new(Gio.UnixInputStream.new(0, False))
    stdin.read_line_async(GLib.PRIORITY_DEFAULT, None, on_input)
    loop = GLib.MainLoop()
    loop.run()


main()
