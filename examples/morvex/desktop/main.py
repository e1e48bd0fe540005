"""A sample application for morvex_desktop: it reports what the bootstrap
gave it, to the file named by its first argument or to standard output."""
import os
import sys


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


def main():
    text = report()
    if len(sys.argv) < 2:
        sys.stdout.write(text)
        return
    # Written aside and renamed, so whoever waits for the file never sees
    # half of it.
    partial = sys.argv[1] + ".partial"
    with open(partial, "w") as f:
        f.write(text)
    os.rename(partial, sys.argv[1])
