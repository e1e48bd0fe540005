"""A sample application for morvex_desktop: it shows what the start-up gave
it in a window titled "Morvex Desktop", or, given a file name as its first
argument, writes that report to the file instead."""
import os
import sys

TITLE = "Morvex Desktop"


def report():
    lines = [
        "sys.frozen = %r" % (getattr(sys, "frozen", None),),
        "sys.brenvik_build = %r" % (getattr(sys, "brenvik_build", None),),
        "sys.argv = %r" % (sys.argv,),
        "end of sys.path:",
    ]
    lines += ["    %s" % entry for entry in sys.path[-3:]]
    lines.append("interpreter: Python %s" % sys.version.split()[0])
    return "\n".join(lines) + "\n"


def write_report(name, text):
    # Written aside and renamed, so whoever waits for the file never sees
    # half of it.
    partial = name + ".partial"
    with open(partial, "w") as f:
        f.write(text)
    # Windows renames onto no existing file: the report of a start before goes first.
    if os.path.exists(name):
        os.remove(name)
    os.rename(partial, name)


def show_window(text):
    # Imported here: writing a report needs no Tk.
    import Tkinter

    window = Tkinter.Tk()
    window.title(TITLE)
    frame = Tkinter.Frame(window, padx=16, pady=12)
    frame.pack(fill=Tkinter.BOTH, expand=True)
    Tkinter.Label(frame, text=TITLE, font=("Tahoma", 14, "bold")).pack(anchor=Tkinter.W)
    Tkinter.Label(frame, text="What the start-up gave this application:").pack(
        anchor=Tkinter.W, pady=(4, 8))
    Tkinter.Label(frame, text=text, justify=Tkinter.LEFT, font=("Courier New", 10),
                  background="white", relief=Tkinter.SUNKEN, padx=8, pady=8).pack(
        fill=Tkinter.BOTH, expand=True)
    close = Tkinter.Button(frame, text="Close", width=10, command=window.destroy)
    close.pack(anchor=Tkinter.E, pady=(12, 0))
    window.bind("<Escape>", lambda event: window.destroy())
    close.focus_set()
    window.mainloop()


def main():
    text = report()
    if len(sys.argv) >= 2:
        write_report(sys.argv[1], text)
    else:
        show_window(text)
