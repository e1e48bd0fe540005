"""The modules an application reaches through the kit's library: what the
folder carries when MORVEX_STDLIB is IMPORTED, why each one is there, and
what the build cannot see. Runs under Python 2.7, which reads the kit's 2.7
sources as they will run.

Imports are followed in the byte code of every module reached, at module
level and inside functions alike (Python's own modulefinder), from every
module of the application, every codec of encodings (codec names come from
data at run time) and what the interpreter and the kit's C code import by
themselves. A name is looked up as the Windows interpreter looks it up: its
built-in modules, the library, DLLs/ of the kit, lib-tk when the folder
carries Tk, then the application's folders.
"""
import ast
import imp
import modulefinder
import os
import StringIO

# sys.builtin_module_names of python.org's Windows Python 2.7 (python27.dll),
# read off the kit's own python.exe: these need no file.
WINDOWS_BUILTINS = frozenset("""
    __builtin__ __main__ _ast _bisect _codecs _codecs_cn _codecs_hk _codecs_iso2022 _codecs_jp
    _codecs_kr _codecs_tw _collections _csv _functools _heapq _hotshot _io _json _locale _lsprof
    _md5 _multibytecodec _random _sha _sha256 _sha512 _sre _struct _subprocess _symtable
    _warnings _weakref _winreg array audioop binascii cPickle cStringIO cmath datetime errno
    exceptions future_builtins gc imageop imp itertools marshal math mmap msvcrt nt operator
    parser signal strop sys thread time xxsubtype zipimport zlib""".split())

# What the C code of python27.dll and of python.org's extension modules
# imports when it loads or is called: invisible in any Python source.
C_IMPORTS = {
    "_elementtree": ["copy", "xml.etree.ElementTree", "xml.etree.ElementPath", "pyexpat"],
    "_io": ["locale"],                 # the default encoding of a text file
    "_multiprocessing": ["cPickle"],
    "_sqlite3": ["sqlite3.dump"],      # Connection.iterdump
    "_ssl": ["_socket"],
    "cPickle": ["copy_reg"],
    "datetime": ["time", "_strptime"],
    "time": ["_strptime"],             # time.strptime
    "zipimport": ["zlib"],
}
# What every folder carries whatever the application imports: pickling and
# copying any object goes through copy_reg, which object.__reduce_ex__
# imports from C.
START_MODULES = ("encodings", "copy_reg")

# Modules of other systems that the library imports where it runs there; an
# import of one is not worth a line of the report.
OTHER_PLATFORMS = frozenset("""
    posix pwd grp fcntl termios resource readline _curses _curses_panel curses.panel crypt nis
    dl dbm gdbm _dbm _gdbm syslog spwd ossaudiodev linuxaudiodev sunaudiodev SUNAUDIODEV
    _posixsubprocess os2 ce riscos riscosenviron riscospath mac MacOS macfs
    Carbon Carbon.File Carbon.Folder Carbon.Folders EasyDialogs _scproxy gestalt _gestalt ic
    icglue al AL cl sgi vms_lib java org.python.core _emx_link rourl2path SOCKS Nav findertools
    aetools aepack aetypes Finder StdSuites applesingle macresource macostools buildtools
    _winapi _overlapped _bootlocale""".split())

# Modules that their parent module puts into sys.modules itself.
SET_BY_THEIR_PARENTS = frozenset(["os.path"])

# Calls that import by a name the build cannot know.
DYNAMIC_CALLS = {"__import__": "__import__", "import_module": "importlib.import_module",
                 "load_module": "imp.load_module", "load_source": "imp.load_source",
                 "load_dynamic": "imp.load_dynamic"}


def is_main_block(node):
    """if __name__ == "__main__": at a module's top level."""
    test = getattr(node, "test", None)
    return (isinstance(node, ast.If) and isinstance(test, ast.Compare) and
            isinstance(test.left, ast.Name) and test.left.id == "__name__" and
            len(test.comparators) == 1 and isinstance(test.comparators[0], ast.Str) and
            test.comparators[0].s == "__main__")


def imported_code(text, path):
    """The module's code as an import runs it: without the block that runs
    only when the module is the main program, whose imports (a self-test's
    doctest, say) never run in the folder."""
    tree = ast.parse(text.replace("\r\n", "\n") + "\n", path)
    tree.body = [node for node in tree.body if not is_main_block(node)]
    return compile(tree, path, "exec", 0, True)


class Finder(modulefinder.ModuleFinder):
    """ModuleFinder that looks names up as the Windows interpreter does, and
    keeps, for each module, the module whose import brought it first."""

    def __init__(self, path, extensions, excluded, namespaces=None):
        modulefinder.ModuleFinder.__init__(self, path)
        self.extensions = extensions
        self.excluded = excluded
        # Namespace packages that *-nspkg.pth lines make: name -> folder,
        # which holds no __init__.py.
        self.namespaces = namespaces or {}
        self.brought_by = {}
        self.callers = [None]

    def is_excluded(self, name):
        return any(name == e or (e.endswith(".*") and (name == e[:-2] or name.startswith(e[:-1])))
                   for e in self.excluded)

    def find_module(self, name, path, parent=None):
        fullname = parent.__name__ + "." + name if parent else name
        if self.is_excluded(fullname):
            raise ImportError(fullname)
        if fullname in self.namespaces:
            return None, self.namespaces[fullname], ("", "", imp.PKG_DIRECTORY)
        if name == "__init__" and path and path[0] in self.namespaces.values():
            # The namespace package's body is empty, as its .pth line makes it.
            return (StringIO.StringIO(""), os.path.join(path[0], "__init__.py"),
                    (".py", "r", imp.PY_SOURCE))
        if path is None:
            if name in WINDOWS_BUILTINS:
                return None, None, ("", "", imp.C_BUILTIN)
            if name in self.extensions:
                return None, self.extensions[name], (".pyd", "rb", imp.C_EXTENSION)
            path = self.path
        for folder in path:
            pyd = os.path.join(folder, name + ".pyd")
            if os.path.isfile(pyd):
                return None, pyd, (".pyd", "rb", imp.C_EXTENSION)
        return imp.find_module(name, path)

    def import_hook(self, name, caller=None, fromlist=None, level=-1):
        self.callers.append(caller.__name__ if caller else self.callers[-1])
        try:
            return modulefinder.ModuleFinder.import_hook(self, name, caller, fromlist, level)
        finally:
            self.callers.pop()

    def load_module(self, fqname, fp, pathname, file_info):
        self.brought_by.setdefault(fqname, self.callers[-1])
        if file_info[2] == imp.PY_SOURCE:
            module = self.add_module(fqname)
            module.__file__ = pathname
            module.__code__ = imported_code(fp.read(), pathname)
            self.scan_code(module.__code__, module)
        else:
            module = modulefinder.ModuleFinder.load_module(self, fqname, fp, pathname, file_info)
        for name in C_IMPORTS.get(fqname, ()):
            self.root(name, fqname)
        return module

    def root(self, name, why):
        """Imports name as the application's code would, for the reason why."""
        self.callers.append(why)
        try:
            self.import_hook(name)
        except ImportError:
            self._add_badmodule(name, why)
        finally:
            self.callers.pop()


def module_names(folder):
    """(dotted name, path) of every module that an import reaches under
    folder: its top-level modules and packages, and every module of those
    packages and their sub-packages. A .py in a sub-folder that is no package
    (without __init__.py) is no module."""
    found = []
    for parent, subfolders, names in os.walk(folder):
        subfolders[:] = sorted(s for s in subfolders if not s.startswith(".") and
                               os.path.isfile(os.path.join(parent, s, "__init__.py")))
        for name in sorted(names):
            if name.endswith(".py") and not name.startswith("."):
                relative = os.path.relpath(os.path.join(parent, name), folder)[:-3]
                parts = relative.split(os.sep)
                if parts[-1] == "__init__":
                    parts.pop()
                if parts:
                    found.append((".".join(parts), os.path.join(parent, name)))
    return found


def resolve(finder, name):
    """The modules that a name of MORVEX_INCLUDE_MODULES or
    MORVEX_EXCLUDE_MODULES stands for, found as the folder's imports find
    them: the module itself, or for NAME.* the package with every module
    under it (a module that is no package stands for itself). None when
    neither the kit nor the application has it."""
    dotted = name[:-2] if name.endswith(".*") else name
    parent = None
    for part in dotted.split("."):
        try:
            found = finder.find_module(part, parent and parent.__path__, parent)
        except (ImportError, TypeError):
            return None
        if found[0]:
            found[0].close()
        parent = modulefinder.Module((parent.__name__ + "." if parent else "") + part)
        parent.__path__ = [found[1]] if found[2][2] == imp.PKG_DIRECTORY else None
    if not name.endswith(".*") or not parent.__path__:
        return [dotted]
    return [dotted] + [dotted + "." + n for n, _ in module_names(parent.__path__[0])]


def resolver(lib, dlls, tk, app_folders, package_path=()):
    """A Finder that looks names up as follow()'s does, with nothing left
    out, for resolve()."""
    return Finder(search_path(lib, tk, app_folders, package_path), extension_modules(dlls), [])


def search_path(lib, tk, app_folders, package_path=()):
    """The folders a name is looked up in, in order: the library, lib-tk
    with Tk, the application's folders, then the packages' folders."""
    path = [lib]
    if tk:
        path.append(os.path.join(lib, "lib-tk"))
    for folder in app_folders:
        path.append(folder)
        # The search-path file's default entry for the pywin32 layout.
        nested = os.path.join(folder, "win32modules", "win32", "lib")
        if os.path.isdir(nested):
            path.append(nested)
    return path + list(package_path)


def extension_modules(dlls):
    return dict((name[:-4], os.path.join(dlls, name)) for name in sorted(os.listdir(dlls))
                if name.endswith(".pyd")) if os.path.isdir(dlls) else {}


def follow(lib, dlls, tk, app_folders, included, excluded, package_path=(), namespaces=None):
    """The Finder after following everything the folder needs; included are
    the modules that resolve() gave for MORVEX_INCLUDE_MODULES. The packages'
    folders are a library: only what is imported of them is followed."""
    finder = Finder(search_path(lib, tk, app_folders, package_path), extension_modules(dlls),
                    excluded, namespaces)
    for folder in app_folders:
        for name, path in module_names(folder):
            finder.root(name, "the application")
    for name in START_MODULES:
        finder.root(name, "the interpreter")
    for name, path in module_names(os.path.join(lib, "encodings")):
        finder.root("encodings." + name, "every codec")
    if tk:
        finder.root("Tkinter", "MORVEX_TK")
    for name in included:
        finder.root(name, "MORVEX_INCLUDE_MODULES")
    return finder


def chain(finder, name):
    """name <- the module that imported it <- ... <- a root's reason."""
    links = [name]
    while links[-1] in finder.brought_by and len(links) < 50:
        links.append(finder.brought_by[links[-1]])
    return " <- ".join(links)


def missing(finder):
    """Names imported that resolve to nothing, each with its importers,
    other systems' modules and the names a package may define apart."""
    names, _ = finder.any_missing_maybe()
    return [(name, sorted(finder.badmodules[name])) for name in names
            if name not in OTHER_PLATFORMS and name.split(".")[0] not in OTHER_PLATFORMS
            and name not in SET_BY_THEIR_PARENTS and not finder.is_excluded(name)]


def source_tree(path):
    with open(path, "rb") as f:
        text = f.read().replace("\r\n", "\n")
    try:
        return ast.parse(text + "\n", path)
    except (SyntaxError, TypeError, ValueError):
        return None


def dynamic_imports(path):
    """(line, what) of every import in the module that names its module at
    run time: the calls of DYNAMIC_CALLS and an exec of text."""
    tree = source_tree(path)
    found = []
    for node in ast.walk(tree) if tree else ():
        if isinstance(node, ast.Exec):
            found.append((node.lineno, "exec"))
        elif isinstance(node, ast.Call):
            function = node.func
            name = (function.id if isinstance(function, ast.Name) else
                    function.attr if isinstance(function, ast.Attribute) else None)
            if name == "exec" or name == "execfile":
                found.append((node.lineno, name))
            elif name in DYNAMIC_CALLS and (name == "__import__" or
                                            isinstance(function, ast.Attribute)):
                found.append((node.lineno, DYNAMIC_CALLS[name]))
    return sorted(found)


def import_statements(path):
    """(line, names) of every absolute import statement of the module: the
    modules an "import" names, and for "from M import a" M and M.a."""
    tree = source_tree(path)
    found = []
    for node in ast.walk(tree) if tree else ():
        if isinstance(node, ast.Import):
            found.append((node.lineno, [alias.name for alias in node.names]))
        elif isinstance(node, ast.ImportFrom) and node.module and not node.level:
            found.append((node.lineno, [node.module] +
                          [node.module + "." + alias.name for alias in node.names]))
    return sorted(found)


def imported_names(path):
    return set(name for line, names in import_statements(path) for name in names)


def import_lines(path, name):
    """The lines of the module's import statements that name module name (or
    a module inside it, or, for an implicit relative import, its end)."""
    return [line for line, names in import_statements(path)
            if any(n == name or n.startswith(name + ".") or name.endswith("." + n)
                   for n in names)]


def imported_tops(path):
    """The top-level names of the modules a module imports; empty for one
    that does not parse (the build reports it)."""
    return set(name.split(".")[0] for name in imported_names(path))


def excluded_imports(finder, excluded, app_modules):
    """(path, line, name) of each import of the application's own modules,
    (name, path) pairs, that a name of MORVEX_EXCLUDE_MODULES leaves out."""
    finder.excluded = excluded
    found = []
    for _, path in app_modules:
        for module in sorted(imported_names(path)):
            if finder.is_excluded(module):
                found += [(path, line, module) for line in import_lines(path, module)]
    finder.excluded = []
    return found
