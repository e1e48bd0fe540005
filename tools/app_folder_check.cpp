#include "app_folder_check.h"

#include <algorithm>
#include <map>
#include <set>

#include "text.h"

namespace {

const size_t npos = std::string::npos;

// What every supported Windows (10 and 11, x64) provides, kept in this one
// place: DLLs of its system folder, which the loader finds wherever a program
// sits, and assemblies of its own side-by-side store. The api-ms-win-* and
// ext-ms-win-* sets are resolved by the loader itself (IsApiSet).
const char* const kWindowsDlls[] = {
    "aclui.dll",    "activeds.dll", "advapi32.dll", "bcrypt.dll",   "cabinet.dll",  "comctl32.dll",
    "comdlg32.dll", "credui.dll",   "crypt32.dll",  "dbghelp.dll",  "dnsapi.dll",   "dsound.dll",
    "gdi32.dll",    "imm32.dll",    "iphlpapi.dll", "kernel32.dll", "lz32.dll",     "mpr.dll",
    "mscoree.dll",  "msi.dll",      "msvcrt.dll",   "mswsock.dll",  "netapi32.dll", "ntdll.dll",
    "odbc32.dll",   "ole32.dll",    "oleacc.dll",   "oleaut32.dll", "oledlg.dll",   "pdh.dll",
    "powrprof.dll", "propsys.dll",  "psapi.dll",    "query.dll",    "rasapi32.dll", "rpcrt4.dll",
    "secur32.dll",  "setupapi.dll", "shell32.dll",  "shlwapi.dll",  "ucrtbase.dll", "urlmon.dll",
    "user32.dll",   "userenv.dll",  "uxtheme.dll",  "version.dll",  "wevtapi.dll",  "winhttp.dll",
    "wininet.dll",  "winmm.dll",    "winspool.drv", "wintrust.dll", "ws2_32.dll",   "wtsapi32.dll"};
const char* const kWindowsAssemblies[] = {"Microsoft.Windows.Common-Controls"};

// The C runtimes of later Visual C++ releases, which the folder does not
// carry.
const char* const kOtherCRuntimes[] = {"msvcr100.dll", "msvcr110.dll", "msvcr120.dll",
                                       "vcruntime140.dll"};

// The Visual C++ 2008 runtime checks, when it starts, that an activation
// context named it, so Windows refuses a loose copy of these DLLs: they
// resolve only through the assembly. --system-runtime takes it as installed.
const char kVc90Runtime[] = "microsoft.vc90.crt";
const char* const kVc90RuntimeDlls[] = {"msvcr90.dll", "msvcp90.dll", "msvcm90.dll"};

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), npos, end) == 0;
}

// Another Python's core DLL (python26.dll, python3.dll, python38.dll): a
// module built against it cannot load beside python27.dll.
bool IsOtherPython(const std::string& lowerName) {
  if (lowerName.compare(0, 6, "python") != 0 || !EndsWith(lowerName, ".dll") ||
      lowerName == "python27.dll")
    return false;
  const std::string digits = lowerName.substr(6, lowerName.size() - 10);
  return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

template <size_t N>
bool Listed(const char* const (&list)[N], const std::string& lowerName) {
  return std::any_of(std::begin(list), std::end(list),
                     [&](const char* item) { return AsciiLower(item) == lowerName; });
}

bool IsApiSet(const std::string& lowerName) {
  return lowerName.compare(0, 11, "api-ms-win-") == 0 ||
         lowerName.compare(0, 11, "ext-ms-win-") == 0;
}

// The folder part of a relative path with its "/", empty at the top.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) { return path.substr(FolderOf(path).size()); }

// ---- Identities

std::string Describe(const AssemblyIdentity& identity) {
  return identity.name + " " + identity.version + " " + identity.architecture;
}

// How the identity a manifest holds differs from the one asked for, or
// nothing. The version is compared as written, the rest in any case.
std::string IdentityMismatch(const AssemblyIdentity& held, const AssemblyIdentity& wanted) {
  std::string differences;
  const auto compare = [&](const char* field, const std::string& a, const std::string& b,
                           bool anyCase) {
    if (anyCase ? AsciiLower(a) == AsciiLower(b) : a == b) return;
    differences +=
        std::string(differences.empty() ? "" : ", ") + field + " \"" + a + "\", not \"" + b + "\"";
  };
  compare("name", held.name, wanted.name, true);
  compare("version", held.version, wanted.version, false);
  compare("processorArchitecture", held.architecture, wanted.architecture, true);
  compare("publicKeyToken", held.publicKeyToken, wanted.publicKeyToken, true);
  return differences;
}

// ---- The folder

struct Folder {
  std::map<std::string, const FolderFile*> files;  // by lower-case path
  bool systemRuntime;
};

const FolderFile* FindFile(const Folder& folder, const std::string& path) {
  const auto found = folder.files.find(AsciiLower(path));
  return found == folder.files.end() ? nullptr : found->second;
}

// Where one assembly dependency leads: the DLLs it provides (lower case),
// or why it does not resolve.
struct Resolution {
  std::string problem;
  std::vector<std::string> dlls;
};

// The files that a found assembly manifest lists, each in its folder.
Resolution AssemblyFiles(const Folder& folder, const FolderFile& manifest,
                         const AssemblyIdentity& wanted) {
  if (!manifest.readable) return {manifest.path + " cannot be read", {}};
  const std::string mismatch = IdentityMismatch(ManifestIdentity(manifest.bytes), wanted);
  if (!mismatch.empty()) return {manifest.path + " holds " + mismatch, {}};
  Resolution resolution;
  const std::string directory = FolderOf(manifest.path);
  for (const std::string& file : ManifestFiles(manifest.bytes)) {
    if (!FindFile(folder, directory + file))
      resolution.problem += std::string(resolution.problem.empty() ? "" : "; ") + manifest.path +
                            " lists " + file + ", which is not in " +
                            (directory.empty() ? "the folder" : directory);
    resolution.dlls.push_back(AsciiLower(file));
  }
  if (!resolution.problem.empty()) resolution.dlls.clear();
  return resolution;
}

// A private assembly is looked for in the folder of the file whose manifest
// asks for it (the loader makes that file's activation context there): as
// NAME.manifest, then NAME/NAME.manifest, and the first found decides. (The
// loader first tries NAME.DLL for each, an assembly that is a single DLL
// with its manifest inside; the runtimes here are not.) A private assembly
// that is found is checked even with systemRuntime: it is what the folder
// ships.
Resolution ResolveAssembly(const Folder& folder, const std::string& directory,
                           const AssemblyIdentity& wanted) {
  for (const std::string& candidate : {directory + wanted.name + ".manifest",
                                       directory + wanted.name + "/" + wanted.name + ".manifest"})
    if (const FolderFile* manifest = FindFile(folder, candidate))
      return AssemblyFiles(folder, *manifest, wanted);
  if (folder.systemRuntime && AsciiLower(wanted.name) == kVc90Runtime)
    return {"", std::vector<std::string>(std::begin(kVc90RuntimeDlls), std::end(kVc90RuntimeDlls))};
  return {"no private assembly in " + (directory.empty() ? std::string("the folder") : directory),
          {}};
}

struct Checked {
  const FolderFile* file;
  std::string problem;
  PeNeeds needs;
  std::vector<AssemblyIdentity> dependencies;
  std::vector<Resolution> resolutions;
};

Checked ReadImage(const Folder& folder, const FolderFile& file) {
  Checked checked{&file, "cannot be read", {}, {}, {}};
  if (!file.readable) return checked;
  checked.problem = ReadPeNeeds(file.bytes, checked.needs);
  for (const std::string& manifest : checked.needs.manifests)
    for (const AssemblyIdentity& dependency : ManifestDependencies(manifest))
      if (!Listed(kWindowsAssemblies, AsciiLower(dependency.name))) {
        checked.dependencies.push_back(dependency);
        checked.resolutions.push_back(ResolveAssembly(folder, FolderOf(file.path), dependency));
      }
  return checked;
}

// The DLLs that the activation contexts of the top folder give the files
// that load into the process.
struct Borrowed {
  std::set<std::string> process;  // the programs' (the process default)
  std::set<std::string> python;   // python27.dll's
};

// The DLLs that activation contexts give a file: its own resolved
// dependencies; those of the assembly it belongs to, when it is a file of
// one; the process default context's; and, for a file that asks for no
// assembly itself, python27.dll's, which Python 2.7 activates while it loads
// an extension module. A .pyd that asks for the runtime itself (python.org's
// do) gets a context of its own, which the loader makes in the .pyd's own
// folder: the runtime must be found there, and a failure is its own problem.
std::set<std::string> ContextDlls(const Folder& folder, const Checked& checked,
                                  const Borrowed& borrowed) {
  std::set<std::string> dlls = borrowed.process;
  if (checked.dependencies.empty()) dlls.insert(borrowed.python.begin(), borrowed.python.end());
  for (const Resolution& resolution : checked.resolutions)
    dlls.insert(resolution.dlls.begin(), resolution.dlls.end());
  const std::string directory = FolderOf(checked.file->path);
  const std::string name = AsciiLower(NameOf(checked.file->path));
  for (const auto& entry : folder.files)
    if (FolderOf(entry.first) == AsciiLower(directory) && EndsWith(entry.first, ".manifest")) {
      std::set<std::string> members;
      for (const std::string& file : ManifestFiles(entry.second->bytes))
        members.insert(AsciiLower(file));
      if (members.count(name)) dlls.insert(members.begin(), members.end());
    }
  return dlls;
}

// Whether the loader finds an imported DLL for this file: a DLL of
// Windows, or a file in the program's folder (the top) or, for the files
// below it (extension modules and the DLLs beside them, which Python loads
// with the altered search path), in the file's own folder.
bool FoundAsFile(const Folder& folder, const std::string& path, const std::string& lowerName) {
  return IsApiSet(lowerName) || Listed(kWindowsDlls, lowerName) || FindFile(folder, lowerName) ||
         FindFile(folder, FolderOf(path) + lowerName);
}

void ReportImage(const Folder& folder, const Checked& checked, const Borrowed& borrowed,
                 std::vector<std::string>& problems) {
  const std::string& path = checked.file->path;
  if (!checked.problem.empty()) {
    problems.push_back(path + ": " + checked.problem);
    return;
  }
  if (checked.needs.machine != 0x8664)
    problems.push_back(path + " is built for another machine (" +
                       (checked.needs.machine == 0x14C
                            ? std::string("32-bit x86")
                            : "machine " + std::to_string(checked.needs.machine)) +
                       "), not x86-64");
  std::set<std::string> reported;  // imports named with a failed assembly
  for (size_t i = 0; i < checked.dependencies.size(); ++i) {
    if (checked.resolutions[i].problem.empty()) continue;
    std::string served;
    if (AsciiLower(checked.dependencies[i].name) == kVc90Runtime)
      for (const std::string& import : checked.needs.imports)
        if (Listed(kVc90RuntimeDlls, AsciiLower(import)) &&
            reported.insert(AsciiLower(import)).second)
          served += (served.empty() ? " (" : ", ") + import;
    problems.push_back(path + " needs " + Describe(checked.dependencies[i]) + served +
                       (served.empty() ? "" : ")") + ": " + checked.resolutions[i].problem);
  }
  const std::set<std::string> contexts = ContextDlls(folder, checked, borrowed);
  for (const std::string& import : checked.needs.imports) {
    const std::string name = AsciiLower(import);
    if (reported.count(name) || contexts.count(name)) continue;
    if (Listed(kVc90RuntimeDlls, name))
      problems.push_back(path + " needs " + import +
                         ": only the Microsoft.VC90.CRT assembly can provide it, and no manifest "
                         "dependency of the file gives it (a loose copy is refused)");
    else if (IsOtherPython(name))
      problems.push_back(path + " is built for another Python: it imports " + import);
    else if (Listed(kOtherCRuntimes, name) && !FoundAsFile(folder, path, name))
      problems.push_back(path + " needs " + import + ", a C runtime the folder does not carry");
    else if (!FoundAsFile(folder, path, name))
      problems.push_back(path + " needs " + import + ": not in the folder");
  }
}

}  // namespace

std::string WindowsProvides() {
  std::string text;
  for (const char* dll : kWindowsDlls) text += std::string(dll) + ", ";
  text += "the api-ms-win-* and ext-ms-win-* API sets, and the assemblies";
  for (const char* assembly : kWindowsAssemblies) text += std::string(" ") + assembly;
  return text;
}

bool IsPeFile(const std::string& path) {
  const std::string name = AsciiLower(path);
  return EndsWith(name, ".exe") || EndsWith(name, ".dll") || EndsWith(name, ".pyd");
}

bool NeedsBytes(const std::string& path) {
  return IsPeFile(path) || EndsWith(AsciiLower(path), ".manifest");
}

std::vector<std::string> CheckAppFolder(const std::vector<FolderFile>& files, bool systemRuntime) {
  Folder folder{{}, systemRuntime};
  for (const FolderFile& file : files) folder.files[AsciiLower(file.path)] = &file;
  std::vector<Checked> images;
  for (const FolderFile& file : files)
    if (IsPeFile(file.path)) images.push_back(ReadImage(folder, file));
  Borrowed borrowed;
  for (const Checked& image : images) {
    const std::string path = AsciiLower(image.file->path);
    const bool program = path.find('/') == npos && EndsWith(path, ".exe");
    if (!program && path != "python27.dll") continue;
    for (const Resolution& resolution : image.resolutions)
      (program ? borrowed.process : borrowed.python)
          .insert(resolution.dlls.begin(), resolution.dlls.end());
  }
  std::vector<std::string> problems;
  for (const Checked& image : images) ReportImage(folder, image, borrowed, problems);
  return problems;
}
