"""A GTK 3 window with texts of every kind, for end-to-end tests of programs
that read other applications through the accessibility bus.

    /usr/bin/python3 text_window.py [--labels N]

The window "Groceries" holds, top to bottom: the label "Shopping list", a
single-line entry "milk" (focused), a password entry, a multi-line text view
"eggs" / "bread", and a label of 511 "x", one emoji and 100 "y" (613 UTF-16
units, the emoji's pair at units 511 and 512), then an empty panel whose
accessible object can be told to stall. With --labels N it holds N further
labels "label 0" ... in a scrolled list instead of the text view, the long
label and the panel (for timing large windows).

Prints "ready <X window id>" once the window is mapped, then answers each line
on stdin with one line:
    second   opens the window "Second" with an entry "second entry" -> "ok"
    close    closes "Second"                                          -> "ok"
    stall    the next time the panel is asked for its number of children,
             the application stops answering for 3 s                   -> "ok"
    text     the entry's current text                                 -> its text
    quit     ends                                                     -> "bye"
"""
import argparse
import sys
import time

import gi
from gi.repository import GLib

# Before GTK starts, which names the window class after the program.
GLib.set_prgname("text-window")
gi.require_version("Atk", "1.0")
gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
gi.require_version("Pango", "1.0")
from gi.repository import Atk, GdkX11, Gtk, Pango  # noqa: E402,F401  (GdkX11: get_xid)

LONG_TEXT = "x" * 511 + "\U0001F600" + "y" * 100


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class StallingAccessible(Atk.Object):
    """A panel's accessible object that can block the application (its main
    loop) once, when asked for its children: a hang in the middle of a walk
    over the window's tree."""

    def __init__(self):
        super().__init__()
        self.stall_seconds = 0

    def do_get_role(self):
        return Atk.Role.PANEL

    def do_get_n_children(self):
        seconds, self.stall_seconds = self.stall_seconds, 0
        time.sleep(seconds)
        return 0


class StallingPanel(Gtk.DrawingArea):
    def __init__(self):
        super().__init__()
        self.set_size_request(20, 20)
        self.accessible = StallingAccessible()

    def do_get_accessible(self):
        if self.accessible.get_parent() is None and self.get_parent() is not None:
            self.accessible.set_parent(self.get_parent().get_accessible())
        return self.accessible


class TextWindow:
    def __init__(self, labels):
        self.second = None
        self.panel = StallingPanel()
        self.window = Gtk.Window(title="Groceries")
        self.window.set_default_size(600, 400)
        self.window.connect("destroy", Gtk.main_quit)
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
        self.window.add(box)
        box.pack_start(Gtk.Label(label="Shopping list"), False, False, 0)
        self.entry = Gtk.Entry()
        self.entry.set_text("milk")
        box.pack_start(self.entry, False, False, 0)
        password = Gtk.Entry()
        password.set_visibility(False)
        password.set_text("hunter2")
        box.pack_start(password, False, False, 0)
        if labels > 0:
            list_box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
            for i in range(labels):
                list_box.pack_start(Gtk.Label(label=f"label {i}"), False, False, 0)
            scrolled = Gtk.ScrolledWindow()
            scrolled.add(list_box)
            box.pack_start(scrolled, True, True, 0)
        else:
            view = Gtk.TextView()
            view.get_buffer().set_text("eggs\nbread")
            box.pack_start(view, True, True, 0)
            long_label = Gtk.Label(label=LONG_TEXT)
            # One long word: it can only wrap between characters.
            long_label.set_line_wrap(True)
            long_label.set_line_wrap_mode(Pango.WrapMode.CHAR)
            long_label.set_max_width_chars(60)
            box.pack_start(long_label, False, False, 0)
            box.pack_start(self.panel, False, False, 0)
        self.window.connect("map-event", self.on_mapped)
        self.window.show_all()
        self.entry.grab_focus()
        GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, self.on_command)

    def on_mapped(self, window, _event):
        window.disconnect_by_func(self.on_mapped)
        say(f"ready {window.get_window().get_xid()}")

    def on_command(self, _source, _condition):
        line = sys.stdin.readline()
        command = line.strip()
        if not line or command == "quit":
            say("bye")
            Gtk.main_quit()
            return False
        if command == "second":
            self.open_second()
            return True
        if command == "close" and self.second is not None:
            self.second.destroy()
            self.second = None
        if command == "stall":
            self.panel.accessible.stall_seconds = 3
        if command == "text":
            say(self.entry.get_text())
            return True
        say("ok")
        return True

    def open_second(self):
        self.second = Gtk.Window(title="Second")
        entry = Gtk.Entry()
        entry.set_text("second entry")
        self.second.add(entry)

        def mapped(window, _event):
            window.disconnect_by_func(mapped)
            say("ok")

        self.second.connect("map-event", mapped)
        self.second.show_all()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--labels", type=int, default=0)
    args = parser.parse_args()
    TextWindow(args.labels)
    Gtk.main()


if __name__ == "__main__":
    main()
