"""The rules of what the folder carries of the kit, as data: the library's
folders it never carries, Tk's modules and DLLs, and the kit's DLLs it
leaves out. Plain Python that 2.7 and 3 both read, so the tests import these
rules instead of copying them."""

# The library's folders that no application folder carries: its own tests,
# third-party packages and the tools of a Python installation. A POSIX
# folder leaves out its interpreter's build files (config) too.
LEFT_OUT = ("test", "tests", "site-packages", "idlelib", "ensurepip")
POSIX_LEFT_OUT = LEFT_OUT + ("config",)

# Tkinter and the modules of lib-tk that import it.
TK_MODULES = frozenset([
    "_tkinter", "Tkinter", "Tkconstants", "Tkdnd", "Tix", "ttk", "tkMessageBox", "tkFileDialog",
    "tkSimpleDialog", "tkColorChooser", "tkCommonDialog", "tkFont", "ScrolledText", "Dialog",
    "FileDialog", "SimpleDialog", "Canvas", "FixTk", "turtle"])

# What of the kit's DLLs/ comes with Tk alone.
TK_DLLS = ("_tkinter.pyd", "tcl85.dll", "tk85.dll")
# The Tcl and Tk script libraries, from the kit's tcl/ into lib/, where
# tcl85.dll looks for them relative to its own path; their demos stay out.
TK_LIBRARIES = ("tcl8.5", "tk8.5", "tcl8")
TK_LEFT_OUT = ("demos",)
# What a kit must hold for the folder to carry Tk.
TK_KIT_FILES = ("DLLs/_tkinter.pyd", "DLLs/tcl85.dll", "DLLs/tk85.dll", "tcl/tcl8.5/init.tcl",
                "tcl/tk8.5/tk.tcl", "Lib/lib-tk/Tkinter.py")

# The Visual C++ 2008 runtime's assembly and the files it may hold.
RUNTIME_ASSEMBLY = "Microsoft.VC90.CRT"
RUNTIME_FILES = ("msvcr90.dll", "msvcp90.dll", "msvcm90.dll")


def kit_dll_kept(name, tk):
    """Whether a file of the kit's DLLs/ is one the folder may carry: never
    the tests' modules, debug symbols or the helper that only Windows 9x
    needed; Tk's only with Tk."""
    return (not name.startswith("_test") and not name.endswith((".pdb", "_test.pyd"))
            and name != "tclpip85.dll" and (tk or name not in TK_DLLS))


def library_folder_kept(name, tk_apart=True):
    """Whether a folder of the kit's Lib/ goes into python27.zip: not one
    that no folder carries, no other platform's plat-*, and not lib-tk,
    which is laid apart with Tk."""
    return (name not in LEFT_OUT and not name.startswith("plat-") and
            not (tk_apart and name == "lib-tk"))

# pywin32's IDE, Pythonwin, and its MFC modules: pywin32's own helpers import
# them only to show a dialog (win32com.client.selecttlb's list of type
# libraries), and win32ui needs the MFC runtime, which the folder does not
# carry. Left out unless the application's own code imports them or
# MORVEX_INCLUDE_MODULES names them.
PACKAGES_LEFT_OUT = ("pywin.*", "win32ui", "win32uiole", "dde")

# The C runtimes of later Visual C++ releases, which the folder does not
# carry: an extension module that needs one starts only where it is
# installed.
OTHER_C_RUNTIMES = ("msvcr100.dll", "msvcr110.dll", "msvcr120.dll", "vcruntime140.dll")


def other_python(dll):
    """Whether an imported DLL is another Python's core (python26.dll,
    python3.dll, python38.dll): a module built for it cannot load here."""
    name = dll.lower()
    return (name.startswith("python") and name.endswith(".dll") and name[6:-4].isdigit()
            and name != "python27.dll")
