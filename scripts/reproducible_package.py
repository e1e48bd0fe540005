"""Makes cpack's packages the same bytes from every build of one commit:
cpack takes each file's times and owner from the build machine.

    python3 reproducible_package.py stage FOLDER EPOCH
        dates every file and folder under FOLDER (cpack's staging folder,
        before the package is made) at EPOCH: the installer stores each
        file's time and gives it to the installed file
    python3 reproducible_package.py zip FILE.zip EPOCH
        rewrites a ZIP that cpack made: entries in the order of their
        names, each dated EPOCH (UTC), with the mode 755 (folders and
        programs) or 644 and no extra fields (cpack's hold the files'
        access and change times and their owner)

EPOCH is the build's time in seconds since 1970 (cmake/morvex_source_date_epoch.cmake),
which is never earlier than 1980, the earliest time a ZIP entry holds.
"""
import os
import shutil
import sys
import time
import zipfile

def stage(folder, epoch):
    for where, folders, files in os.walk(folder):
        for name in files + folders:
            os.utime(os.path.join(where, name), (epoch, epoch), follow_symlinks=False)
    os.utime(folder, (epoch, epoch))


def rewrite_zip(path, epoch):
    date = time.gmtime(epoch)[:6]
    partial = path + ".partial"
    with zipfile.ZipFile(path) as source, zipfile.ZipFile(partial, "w") as target:
        for entry in sorted(source.infolist(), key=lambda e: e.filename):
            mode = entry.external_attr >> 16
            folder = entry.is_dir()
            runnable = folder or mode & 0o111
            written = zipfile.ZipInfo(entry.filename, date)
            written.create_system = 3  # Unix: the modes below
            written.external_attr = ((0o40755 if folder else 0o100755 if runnable else 0o100644)
                                     << 16) | (0x10 if folder else 0)
            written.compress_type = zipfile.ZIP_STORED if folder else zipfile.ZIP_DEFLATED
            target.writestr(written, b"" if folder else source.read(entry))
    shutil.move(partial, path)


def main(command, path, epoch):
    if not epoch.isdigit():
        sys.stderr.write("reproducible_package: EPOCH %r is not a count of seconds\n" % epoch)
        return 2
    if command == "stage":
        stage(path, int(epoch))
    elif command == "zip":
        rewrite_zip(path, int(epoch))
    else:
        sys.stderr.write("reproducible_package: no command %r (stage, zip)\n" % command)
        return 2
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.stderr.write("usage: python3 reproducible_package.py stage|zip PATH EPOCH\n")
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
