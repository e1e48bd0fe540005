#include "app_folder_check.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "executable_image.h"

namespace {

const size_t npos = std::string::npos;

// What every supported Windows (10 and 11, x64) provides, kept in this one
// place: DLLs of its system folder, which the loader finds wherever a program
// sits, and assemblies of its own side-by-side store. The api-ms-win-* and
// ext-ms-win-* sets are resolved by the loader itself (IsApiSet).
const char* const kWindowsDlls[] = {
    "advapi32.dll", "bcrypt.dll",  "cabinet.dll",  "comctl32.dll", "comdlg32.dll", "crypt32.dll",
    "dbghelp.dll",  "dnsapi.dll",  "gdi32.dll",    "imm32.dll",    "iphlpapi.dll", "kernel32.dll",
    "mpr.dll",      "mscoree.dll", "msi.dll",      "msvcrt.dll",   "mswsock.dll",  "netapi32.dll",
    "ntdll.dll",    "ole32.dll",   "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",   "secur32.dll",
    "setupapi.dll", "shell32.dll", "shlwapi.dll",  "ucrtbase.dll", "user32.dll",   "userenv.dll",
    "uxtheme.dll",  "version.dll", "winhttp.dll",  "wininet.dll",  "winmm.dll",    "wintrust.dll",
    "ws2_32.dll",   "wtsapi32.dll"};
const char* const kWindowsAssemblies[] = {"Microsoft.Windows.Common-Controls"};

// The Visual C++ 2008 runtime checks, when it starts, that an activation
// context named it, so Windows refuses a loose copy of these DLLs: they
// resolve only through the assembly. --system-runtime takes it as installed.
const char kVc90Runtime[] = "microsoft.vc90.crt";
const char* const kVc90RuntimeDlls[] = {"msvcr90.dll", "msvcp90.dll", "msvcm90.dll"};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), npos, end) == 0;
}

template <size_t N>
bool Listed(const char* const (&list)[N], const std::string& lowerName) {
  return std::any_of(std::begin(list), std::end(list),
                     [&](const char* item) { return Lower(item) == lowerName; });
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

// ---- The image

bool Number(const std::string& bytes, std::uint64_t offset, size_t count, std::uint64_t& number) {
  return ReadImageNumber(bytes.data(), bytes.size(), offset, count, number);
}

struct Section {
  std::uint64_t address, rawSize, offset;
};

struct Image {
  const std::string* bytes;
  std::vector<Section> sections;
  std::uint64_t imageBase;
};

// The file offset of an address in the loaded image, when a section's bytes
// in the file hold it.
bool FileOffset(const Image& image, std::uint64_t address, std::uint64_t& offset) {
  for (const Section& section : image.sections)
    if (address >= section.address && address - section.address < section.rawSize) {
      offset = section.offset + (address - section.address);
      return true;
    }
  return false;
}

bool NumberAt(const Image& image, std::uint64_t address, size_t count, std::uint64_t& number) {
  std::uint64_t offset = 0;
  return FileOffset(image, address, offset) && Number(*image.bytes, offset, count, number);
}

// A DLL name: text ending in a 0x00 byte inside the file, of sane length.
bool NameAt(const Image& image, std::uint64_t address, std::string& name) {
  std::uint64_t offset = 0;
  if (!FileOffset(image, address, offset) || offset >= image.bytes->size()) return false;
  const size_t end = image.bytes->find('\0', offset);
  if (end == npos || end == offset || end - offset > 260) return false;
  name = image.bytes->substr(offset, end - offset);
  return true;
}

// The names of an import directory (20-byte entries, the name at 12) or a
// delay-load one (32-byte entries, the name at 4, an address rather than an
// offset in the image when attribute bit 0 is clear), up to the entry
// without a name.
std::string ReadImportNames(const Image& image, std::uint64_t address, bool delayed,
                            std::vector<std::string>& names) {
  const std::uint64_t entrySize = delayed ? 32 : 20;
  for (std::uint64_t entry = address;; entry += entrySize) {
    std::uint64_t attributes = 1, name = 0;
    if ((delayed && !NumberAt(image, entry, 4, attributes)) ||
        !NumberAt(image, entry + (delayed ? 4 : 12), 4, name))
      return "truncated: the import directory lies outside the file";
    if (name == 0) return std::string();
    if (!(attributes & 1)) name -= std::min(name, image.imageBase);
    std::string text;
    if (!NameAt(image, name, text))
      return "truncated: an imported DLL's name lies outside the file";
    names.push_back(text);
  }
}

// The entries of a resource directory: an id or name, and an offset from
// the resource root whose top bit marks a subdirectory.
bool ResourceEntries(const Image& image, std::uint64_t root, std::uint64_t directory,
                     std::vector<std::pair<std::uint64_t, std::uint64_t>>& entries) {
  std::uint64_t named = 0, numbered = 0;
  if (!NumberAt(image, root + directory + 12, 2, named) ||
      !NumberAt(image, root + directory + 14, 2, numbered))
    return false;
  entries.clear();
  // Far more than any image has: a crafted tree cannot make the walk long.
  for (std::uint64_t i = 0; i < named + numbered && i < 1024; ++i) {
    std::uint64_t id = 0, offset = 0;
    const std::uint64_t at = root + directory + 16 + 8 * i;
    if (!NumberAt(image, at, 4, id) || !NumberAt(image, at + 4, 4, offset)) return false;
    entries.emplace_back(id, offset);
  }
  return true;
}

// Every RT_MANIFEST (type 24) resource: type, then id or name, then
// language, each a level of the tree; the leaves give address and size.
// Windows keeps ids 1 to 16 for manifests, so 16 are plenty.
std::string ReadManifests(const Image& image, std::uint64_t root, std::vector<std::string>& texts) {
  const std::uint64_t subdirectory = 0x80000000;
  const std::string truncated = "truncated: the resources lie outside the file";
  std::vector<std::pair<std::uint64_t, std::uint64_t>> types, ids, languages;
  if (!ResourceEntries(image, root, 0, types)) return truncated;
  for (const auto& type : types) {
    if (type.first != 24 || !(type.second & subdirectory)) continue;
    if (!ResourceEntries(image, root, type.second & ~subdirectory, ids)) return truncated;
    for (const auto& id : ids) {
      if (!(id.second & subdirectory)) continue;
      if (!ResourceEntries(image, root, id.second & ~subdirectory, languages)) return truncated;
      for (const auto& language : languages) {
        std::uint64_t address = 0, size = 0, offset = 0;
        if (language.second & subdirectory) continue;
        if (!NumberAt(image, root + language.second, 4, address) ||
            !NumberAt(image, root + language.second + 4, 4, size) ||
            !FileOffset(image, address, offset) || offset + size > image.bytes->size())
          return truncated;
        texts.push_back(image.bytes->substr(offset, size));
        if (texts.size() == 16) return std::string();
      }
    }
    break;  // an image has one RT_MANIFEST directory
  }
  return std::string();
}

// ---- Manifests

// The text with its comments removed; a UTF-16 manifest keeps its ASCII
// text once its zero bytes are gone.
std::string ManifestText(std::string text) {
  if (text.compare(0, 2, "\xFF\xFE") == 0)
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  for (size_t start; (start = text.find("<!--")) != npos;) {
    const size_t end = text.find("-->", start + 4);
    text.erase(start, end == npos ? npos : end + 3 - start);
  }
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where the next start tag of the element begins, at or after from: "<name"
// or "<prefix:name", followed by a blank, "/" or ">".
size_t FindTag(const std::string& text, const std::string& element, size_t from) {
  for (size_t at = text.find(element, from); at != npos; at = text.find(element, at + 1)) {
    const size_t end = at + element.size();
    if (end >= text.size() || !(IsBlank(text[end]) || text[end] == '/' || text[end] == '>'))
      continue;
    size_t start = at;
    if (start > 0 && text[start - 1] == ':')
      for (--start; start > 0 && text[start - 1] != '<' && text[start - 1] != '/' &&
                    !IsBlank(text[start - 1]);)
        --start;
    if (start > 0 && text[start - 1] == '<') return at;
  }
  return npos;
}

std::string TagAt(const std::string& text, size_t at) {
  const size_t end = text.find('>', at);
  return text.substr(at, end == npos ? npos : end - at);
}

// The value of an attribute of a start tag, in either quotes; empty when
// the tag has none.
std::string Attribute(const std::string& tag, const std::string& name) {
  for (size_t at = tag.find(name); at != npos; at = tag.find(name, at + 1)) {
    size_t i = at + name.size();
    while (i < tag.size() && IsBlank(tag[i])) ++i;
    if (at == 0 || !IsBlank(tag[at - 1]) || i >= tag.size() || tag[i] != '=') continue;
    for (++i; i < tag.size() && IsBlank(tag[i]);) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const size_t end = tag.find(tag[i], i + 1);
    return end == npos ? std::string() : tag.substr(i + 1, end - i - 1);
  }
  return std::string();
}

AssemblyIdentity IdentityOf(const std::string& tag) {
  return {Attribute(tag, "name"), Attribute(tag, "version"),
          Attribute(tag, "processorArchitecture"), Attribute(tag, "publicKeyToken")};
}

std::string Describe(const AssemblyIdentity& identity) {
  return identity.name + " " + identity.version + " " + identity.architecture;
}

// How the identity a manifest holds differs from the one asked for, or
// nothing. The version is compared as written, the rest in any case.
std::string IdentityMismatch(const AssemblyIdentity& held, const AssemblyIdentity& wanted) {
  std::string differences;
  const auto compare = [&](const char* field, const std::string& a, const std::string& b,
                           bool anyCase) {
    if (anyCase ? Lower(a) == Lower(b) : a == b) return;
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
  const auto found = folder.files.find(Lower(path));
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
    resolution.dlls.push_back(Lower(file));
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
  if (folder.systemRuntime && Lower(wanted.name) == kVc90Runtime)
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
      if (!Listed(kWindowsAssemblies, Lower(dependency.name))) {
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
  const std::string name = Lower(NameOf(checked.file->path));
  for (const auto& entry : folder.files)
    if (FolderOf(entry.first) == Lower(directory) && EndsWith(entry.first, ".manifest")) {
      std::set<std::string> members;
      for (const std::string& file : ManifestFiles(entry.second->bytes))
        members.insert(Lower(file));
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
  std::set<std::string> reported;  // imports named with a failed assembly
  for (size_t i = 0; i < checked.dependencies.size(); ++i) {
    if (checked.resolutions[i].problem.empty()) continue;
    std::string served;
    if (Lower(checked.dependencies[i].name) == kVc90Runtime)
      for (const std::string& import : checked.needs.imports)
        if (Listed(kVc90RuntimeDlls, Lower(import)) && reported.insert(Lower(import)).second)
          served += (served.empty() ? " (" : ", ") + import;
    problems.push_back(path + " needs " + Describe(checked.dependencies[i]) + served +
                       (served.empty() ? "" : ")") + ": " + checked.resolutions[i].problem);
  }
  const std::set<std::string> contexts = ContextDlls(folder, checked, borrowed);
  for (const std::string& import : checked.needs.imports) {
    const std::string name = Lower(import);
    if (reported.count(name) || contexts.count(name)) continue;
    if (Listed(kVc90RuntimeDlls, name))
      problems.push_back(path + " needs " + import +
                         ": only the Microsoft.VC90.CRT assembly can provide it, and no manifest "
                         "dependency of the file gives it (a loose copy is refused)");
    else if (!FoundAsFile(folder, path, name))
      problems.push_back(path + " needs " + import + ": not in the folder");
  }
}

}  // namespace

std::string ReadPeNeeds(const std::string& bytes, PeNeeds& needs) {
  needs = PeNeeds();
  std::uint64_t header = 0, signature = 0, sectionCount = 0, optionalSize = 0, magic = 0;
  if (bytes.compare(0, 2, "MZ") != 0) return "not a PE image (no MZ header)";
  if (!Number(bytes, 0x3C, 4, header) || !Number(bytes, header, 4, signature))
    return "truncated: the PE header lies outside the file";
  if (signature != 0x4550) return "not a PE image (no PE header)";
  const std::uint64_t optional = header + 24;
  if (!Number(bytes, header + 6, 2, sectionCount) || !Number(bytes, header + 20, 2, optionalSize) ||
      !Number(bytes, optional, 2, magic))
    return "truncated: the PE header lies outside the file";
  if (magic != 0x10B && magic != 0x20B) return "not a PE32 or PE32+ image";
  // PE32+ has a wider image base and so its directories 16 bytes further on.
  const bool plus = magic == 0x20B;
  Image image{&bytes, {}, 0};
  std::uint64_t directoryCount = 0;
  if (!Number(bytes, optional + (plus ? 24 : 28), plus ? 8 : 4, image.imageBase) ||
      !Number(bytes, optional + (plus ? 108 : 92), 4, directoryCount))
    return "truncated: the optional header lies outside the file";
  for (std::uint64_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t at = optional + optionalSize + 40 * i;
    Section section{0, 0, 0};
    if (!Number(bytes, at + 12, 4, section.address) ||
        !Number(bytes, at + 16, 4, section.rawSize) || !Number(bytes, at + 20, 4, section.offset))
      return "truncated: the section table lies outside the file";
    image.sections.push_back(section);
  }
  // The directories used: 1 imports, 2 resources, 13 delay-load imports.
  std::uint64_t addresses[14] = {};
  const std::uint64_t directories = optional + (plus ? 112 : 96);
  for (std::uint64_t i = 0; i < 14 && i < directoryCount; ++i)
    if (directories + 8 * i + 8 > optional + optionalSize ||
        !Number(bytes, directories + 8 * i, 4, addresses[i]))
      addresses[i] = 0;
  std::string problem;
  if (addresses[1]) problem = ReadImportNames(image, addresses[1], false, needs.imports);
  if (problem.empty() && addresses[13])
    problem = ReadImportNames(image, addresses[13], true, needs.imports);
  if (problem.empty() && addresses[2])
    problem = ReadManifests(image, addresses[2], needs.manifests);
  return problem;
}

std::vector<AssemblyIdentity> ManifestDependencies(const std::string& manifest) {
  const std::string text = ManifestText(manifest);
  std::vector<AssemblyIdentity> dependencies;
  for (size_t at = FindTag(text, "dependentAssembly", 0); at != npos;) {
    const size_t next = FindTag(text, "dependentAssembly", at + 1);
    const size_t identity = FindTag(text, "assemblyIdentity", at);
    const size_t end = text.find("</", at);
    if (identity != npos && identity < std::min(next, end))
      dependencies.push_back(IdentityOf(TagAt(text, identity)));
    at = next;
  }
  return dependencies;
}

AssemblyIdentity ManifestIdentity(const std::string& manifest) {
  const std::string text = ManifestText(manifest);
  const size_t identity = FindTag(text, "assemblyIdentity", 0);
  if (identity == npos || identity > FindTag(text, "dependentAssembly", 0)) return {};
  return IdentityOf(TagAt(text, identity));
}

std::vector<std::string> ManifestFiles(const std::string& manifest) {
  const std::string text = ManifestText(manifest);
  std::vector<std::string> files;
  for (size_t at = FindTag(text, "file", 0); at != npos; at = FindTag(text, "file", at + 1)) {
    const std::string name = Attribute(TagAt(text, at), "name");
    if (!name.empty()) files.push_back(name);
  }
  return files;
}

std::string WindowsProvides() {
  std::string text;
  for (const char* dll : kWindowsDlls) text += std::string(dll) + ", ";
  text += "the api-ms-win-* and ext-ms-win-* API sets, and the assemblies";
  for (const char* assembly : kWindowsAssemblies) text += std::string(" ") + assembly;
  return text;
}

bool IsPeFile(const std::string& path) {
  const std::string name = Lower(path);
  return EndsWith(name, ".exe") || EndsWith(name, ".dll") || EndsWith(name, ".pyd");
}

bool NeedsBytes(const std::string& path) {
  return IsPeFile(path) || EndsWith(Lower(path), ".manifest");
}

std::vector<std::string> CheckAppFolder(const std::vector<FolderFile>& files, bool systemRuntime) {
  Folder folder{{}, systemRuntime};
  for (const FolderFile& file : files) folder.files[Lower(file.path)] = &file;
  std::vector<Checked> images;
  for (const FolderFile& file : files)
    if (IsPeFile(file.path)) images.push_back(ReadImage(folder, file));
  Borrowed borrowed;
  for (const Checked& image : images) {
    const std::string path = Lower(image.file->path);
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
