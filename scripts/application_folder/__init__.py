"""Lays out the application folder that morvex_desktop runs from: the
application's code compiled, the interpreter's library as the application
reaches it, the extension modules with their DLLs, the Visual C++ runtime's
assembly and Tk. The build's one author of that folder (layout.py names the
steps in order); configure asks it first what the folder will need
(plan.py). Runs under Python 2.7; rules.py also under Python 3, for the
tests."""
