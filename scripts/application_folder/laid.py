"""The table of what the folder holds, which every step of the layout adds
its rows to and the report prints: for each file its destination in the
folder, its source, its kind and why it is there."""
import collections
import os

import byte_code

Laid = collections.namedtuple("Laid", "destination source kind why")


class Table(list):
    """The rows laid, with the sizes of python27.zip's entries as stored."""
    sizes = {}


def copy(source, folder, destination, kind, why, table):
    """A file copied with its modification time, as an install copies it: a
    POSIX library's .pyc is valid only beside a source of the time it names."""
    target = os.path.join(folder, destination)
    byte_code.write(target, byte_code.read(source))
    times = os.stat(source)
    os.utime(target, (times.st_atime, times.st_mtime))
    table.append(Laid(destination, source, kind, why))


def copy_tree(source, folder, destination, left_out, kind, why, table):
    """The files of source under destination, every folder made even when
    empty, but for files and folders named in left_out."""
    for parent, subfolders, names in os.walk(source):
        subfolders[:] = sorted(name for name in subfolders if name not in left_out)
        relative = os.path.relpath(parent, source)
        target = destination if relative == "." else destination + "/" + relative.replace(
            os.sep, "/")
        if not os.path.isdir(os.path.join(folder, target)):
            os.makedirs(os.path.join(folder, target))
        for name in sorted(names):
            if name not in left_out and not name.endswith(left_out):
                copy(os.path.join(parent, name), folder, target + "/" + name, kind, why, table)
