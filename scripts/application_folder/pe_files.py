"""What PE files ask of the Windows loader, as check_app_folder reads them:
the machine, the DLLs they import and the side-by-side assemblies their
embedded manifests ask for. The build's one reader of PE bytes is that
tool's; this asks it and reads its lines."""
import subprocess

from byte_code import Refused


def describe(tool, paths):
    """{path: {"machine": "0x8664", "imports": [names], "assemblies": [(type,
    name, version, processorArchitecture, publicKeyToken)], "error": why or
    None}} of the PE files, in one run of check_app_folder --describe."""
    facts = dict((path, {"machine": None, "imports": [], "assemblies": [], "error": None})
                 for path in paths)
    if not paths:
        return facts
    process = subprocess.Popen([tool, "--describe"] + list(paths), stdout=subprocess.PIPE)
    output = process.communicate()[0]
    if process.returncode not in (0, 1):
        raise Refused("%s --describe failed (exit status %d)" % (tool, process.returncode))
    for line in output.decode("utf-8").splitlines():
        fields = line.split("\t")
        path, kind = fields[0], fields[1]
        if kind == "machine":
            facts[path]["machine"] = fields[2]
        elif kind == "import":
            facts[path]["imports"].append(fields[2])
        elif kind == "assembly":
            facts[path]["assemblies"].append(tuple(fields[2:7]))
        elif kind == "error":
            facts[path]["error"] = fields[2]
    return facts


def asks_for(fact, assembly):
    """The identity fields of the first dependency of a PE file's manifest on
    the named assembly, or None."""
    for identity in fact["assemblies"]:
        if identity[1].lower() == assembly.lower():
            return identity
    return None
