#include "app_folder_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image_description.h"
#include "manifest_text.h"
#include "pe_image.h"

namespace {

using namespace std::string_literals;

void Put(std::string& bytes, size_t offset, size_t number, size_t count) {
  for (size_t i = 0; i < count; ++i)
    bytes[offset + i] = static_cast<char>(number >> (8 * i) & 0xFF);
}

// A PE image as a linker writes one: headers, then one section at address
// 0x1000 and file offset 0x200 holding the import directory for the DLLs
// named and, given a manifest, a resource tree with it as RT_MANIFEST 2.
std::string Image(const std::vector<std::string>& imports, const std::string& manifest = "",
                  bool plus = true) {
  const size_t optional = 0x40 + 24, optionalSize = plus ? 240 : 224, address = 0x1000;
  const size_t directories = optional + (plus ? 112 : 96);
  const size_t table = (imports.size() + 1) * 20;
  std::string section(table, '\0');
  for (size_t i = 0; i < imports.size(); ++i) {
    Put(section, 20 * i + 12, address + section.size(), 4);
    Put(section, 20 * i + 16, address, 4);
    section += imports[i] + '\0';
  }
  std::string bytes(0x200, '\0');
  if (!manifest.empty()) {
    section.resize((section.size() + 7) / 8 * 8, '\0');
    const size_t resources = address + section.size();
    // Type 24, id 2, language 1033: a directory of one entry each, then the leaf.
    std::string tree(3 * 24 + 16, '\0');
    const size_t ids[] = {24, 2, 1033};
    for (size_t level = 0; level < 3; ++level) {
      Put(tree, 24 * level + 14, 1, 2);
      Put(tree, 24 * level + 16, ids[level], 4);
      Put(tree, 24 * level + 20, level < 2 ? 0x80000000 | 24 * (level + 1) : 72, 4);
    }
    Put(tree, 72, resources + tree.size(), 4);
    Put(tree, 76, manifest.size(), 4);
    section += tree + manifest;
    Put(bytes, directories + 16, resources, 4);
    Put(bytes, directories + 20, tree.size(), 4);
  }
  bytes.replace(0, 2, "MZ");
  Put(bytes, 0x3C, 0x40, 4);
  bytes.replace(0x40, 4, "PE\0\0"s);
  Put(bytes, 0x44, plus ? 0x8664 : 0x14C, 2);
  Put(bytes, 0x46, 1, 2);
  Put(bytes, 0x54, optionalSize, 2);
  Put(bytes, optional, plus ? 0x20B : 0x10B, 2);
  Put(bytes, optional + (plus ? 108 : 92), 16, 4);
  Put(bytes, directories + 8, address, 4);
  Put(bytes, directories + 12, table, 4);
  const size_t header = optional + optionalSize;
  Put(bytes, header + 8, section.size(), 4);
  Put(bytes, header + 12, address, 4);
  Put(bytes, header + 16, section.size(), 4);
  Put(bytes, header + 20, 0x200, 4);
  return bytes + section;
}

// What python.org's python27.dll and .pyd files ask for, as they write it.
const std::string kAsksForRuntime =
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <dependency>\n    <dependentAssembly>\n"
    "      <assemblyIdentity type=\"win32\" name=\"Microsoft.VC90.CRT\" version=\"9.0.21022.8\" "
    "processorArchitecture=\"amd64\" publicKeyToken=\"1fc8b3b9a1e18e3b\"></assemblyIdentity>\n"
    "    </dependentAssembly>\n  </dependency>\n</assembly>\n";

std::string Runtime(const std::string& version, const std::string& files) {
  return "<?xml version='1.0'?><assembly><noInheritable/><assemblyIdentity type='win32' "
         "name='Microsoft.VC90.CRT' version='" +
         version + "' processorArchitecture='AMD64' publicKeyToken='1FC8B3B9A1E18E3B'/>" + files +
         "</assembly>";
}

const std::string kPython = "python27.dll";
const std::string kAssembly = "Microsoft.VC90.CRT/Microsoft.VC90.CRT.manifest";
const FolderFile kPythonDll{kPython, Image({"KERNEL32.dll", "MSVCR90.dll"}, kAsksForRuntime)};
const FolderFile kPrivateRuntime{kAssembly, Runtime("9.0.21022.8", "<file name='msvcr90.dll'/>")};
const FolderFile kRuntimeDll{"Microsoft.VC90.CRT/msvcr90.dll", Image({"kernel32.dll"})};
const std::string kNeedsRuntime = " needs Microsoft.VC90.CRT 9.0.21022.8 amd64 (MSVCR90.dll): ";

struct FolderCase {
  const char* name;
  std::vector<FolderFile> files;
  bool systemRuntime;
  std::vector<std::string> problems;
};

TEST(CheckAppFolder, ResolvesAsTheWindowsLoaderWould) {
  const FolderCase cases[] = {
      {"imports from the folder and from Windows",
       {{"app.exe", Image({"KERNEL32.dll", "Helper.DLL", "api-ms-win-crt-runtime-l1-1-0.dll"})},
        {"helper.dll", Image({"msvcrt.dll"})}},
       false,
       {}},
      {"an import that is nowhere",
       {{"app.exe", Image({"missing.dll"})}},
       false,
       {"app.exe needs missing.dll: not in the folder"}},
      {"a module finds the DLLs beside it, the top does not",
       {{"DLLs/_sqlite3.pyd", Image({"sqlite3.dll"})},
        {"DLLs/sqlite3.dll", Image({"KERNEL32.dll"})},
        {"top.dll", Image({"sqlite3.dll"})}},
       false,
       {"top.dll needs sqlite3.dll: not in the folder"}},
      {"no assembly",
       {kPythonDll},
       false,
       {kPython + kNeedsRuntime + "no private assembly in the folder"}},
      {"a loose runtime is refused",
       {kPythonDll, {"msvcr90.dll", Image({"kernel32.dll"})}},
       false,
       {kPython + kNeedsRuntime + "no private assembly in the folder"}},
      {"a private assembly in its folder", {kPythonDll, kPrivateRuntime, kRuntimeDll}, false, {}},
      {"a private assembly flat in the folder",
       {kPythonDll,
        {"Microsoft.VC90.CRT.manifest", kPrivateRuntime.bytes},
        {"MSVCR90.DLL", kRuntimeDll.bytes}},
       false,
       {}},
      {"another version",
       {kPythonDll,
        {kAssembly, Runtime("9.0.30729.9247", "<file name='msvcr90.dll'/>")},
        kRuntimeDll},
       false,
       {kPython + kNeedsRuntime + kAssembly +
        " holds version \"9.0.30729.9247\", not \"9.0.21022.8\""}},
      {"a file of the assembly missing",
       {kPythonDll,
        {kAssembly,
         Runtime("9.0.21022.8", "<file name='msvcr90.dll'/><file name=\"msvcp90.dll\"/>")},
        kRuntimeDll},
       false,
       {kPython + kNeedsRuntime + kAssembly +
        " lists msvcp90.dll, which is not in Microsoft.VC90.CRT/"}},
      {"a module without a manifest uses python27.dll's runtime",
       {kPythonDll,
        kPrivateRuntime,
        kRuntimeDll,
        {"DLLs/bz2.pyd", Image({"python27.dll", "MSVCR90.dll"})}},
       false,
       {}},
      {"a module that asks itself needs the assembly in its own folder",
       {kPythonDll,
        kPrivateRuntime,
        kRuntimeDll,
        {"DLLs/_ctypes.pyd", Image({"python27.dll", "MSVCR90.dll"}, kAsksForRuntime)}},
       false,
       {"DLLs/_ctypes.pyd" + kNeedsRuntime + "no private assembly in DLLs/"}},
      {"a module with no way to the runtime",
       {{"DLLs/bz2.pyd", Image({"MSVCR90.dll"})}},
       false,
       {"DLLs/bz2.pyd needs MSVCR90.dll: only the Microsoft.VC90.CRT assembly can provide it, and "
        "no manifest dependency of the file gives it (a loose copy is refused)"}},
      {"the runtime promised with the system", {kPythonDll}, true, {}},
      {"modules built for another machine, another Python or a C runtime not carried",
       {{"python27.dll", Image({"KERNEL32.dll"})},
        {"modules/old.pyd", Image({"python27.dll"}, "", false)},
        {"modules/py3.pyd", Image({"python38.dll", "python3.dll"})},
        {"modules/new.pyd", Image({"VCRUNTIME140.dll", "pdh.dll", "POWRPROF.dll"})}},
       false,
       {"modules/old.pyd is built for another machine (32-bit x86), not x86-64",
        "modules/py3.pyd is built for another Python: it imports python38.dll",
        "modules/py3.pyd is built for another Python: it imports python3.dll",
        "modules/new.pyd needs VCRUNTIME140.dll, a C runtime the folder does not carry"}},
      {"files that are no images",
       {{"DLLs/text.pyd", "just text"},
        {"DLLs/cut.pyd", Image({"sqlite3.dll"}).substr(0, 0x180)},
        {"gone.dll", "", false}},
       false,
       {"DLLs/text.pyd: not a PE image (no MZ header)",
        "DLLs/cut.pyd: truncated: the import directory lies outside the file",
        "gone.dll: cannot be read"}},
  };
  for (const FolderCase& test : cases)
    EXPECT_EQ(CheckAppFolder(test.files, test.systemRuntime), test.problems) << test.name;
}

TEST(ReadPeNeeds, ReadsImportsAndManifestsOfBothFormats) {
  for (bool plus : {true, false}) {
    PeNeeds needs;
    EXPECT_EQ(ReadPeNeeds(Image({"KERNEL32.dll", "python27.dll"}, kAsksForRuntime, plus), needs),
              "");
    EXPECT_EQ(needs.imports, (std::vector<std::string>{"KERNEL32.dll", "python27.dll"}));
    EXPECT_EQ(needs.manifests, std::vector<std::string>{kAsksForRuntime});
    EXPECT_EQ(needs.machine, plus ? 0x8664u : 0x14Cu);
  }
}

TEST(ReadPeNeeds, ReportsEveryTruncation) {
  const std::string image = Image({"KERNEL32.dll", "MSVCR90.dll"}, kAsksForRuntime);
  PeNeeds needs;
  for (size_t size = 0; size < image.size(); ++size)
    EXPECT_NE(ReadPeNeeds(image.substr(0, size), needs), "") << size;
}

TEST(Manifest, TolerantScan) {
  const std::string manifest =
      "<asmv1:assembly><asmv1:assemblyIdentity name=\"Own\" version=\"1.0\"/>"
      "<!-- <dependentAssembly><assemblyIdentity name=\"Commented\"/></dependentAssembly> -->"
      "<dependency><dependentAssembly>\n<asmv1:assemblyIdentity\ttype='win32' "
      "name = 'Microsoft.Windows.Common-Controls' version='6.0.0.0'/></dependentAssembly>"
      "</dependency><file name=\"a.dll\"/><file\nname='b.dll'></file><fileList name='no'/>"
      "</asmv1:assembly>";
  const std::vector<AssemblyIdentity> dependencies = ManifestDependencies(manifest);
  ASSERT_EQ(dependencies.size(), 1u);
  EXPECT_EQ(dependencies[0].type, "win32");
  EXPECT_EQ(dependencies[0].name, "Microsoft.Windows.Common-Controls");
  EXPECT_EQ(dependencies[0].version, "6.0.0.0");
  EXPECT_EQ(dependencies[0].publicKeyToken, "");
  EXPECT_EQ(ManifestIdentity(manifest).name, "Own");
  EXPECT_EQ(ManifestFiles(manifest), (std::vector<std::string>{"a.dll", "b.dll"}));
  EXPECT_EQ(ManifestIdentity(kAsksForRuntime).name, "");
}

// What check_app_folder --describe writes, which the build's scripts split
// at the tabs: the file as given, then the kind of line and its fields.
TEST(ImageDescription, WritesTabSeparatedLinesPerFile) {
  const std::string bare =
      "<assembly><dependency><dependentAssembly><assemblyIdentity name='Bare'/>"
      "</dependentAssembly></dependency></assembly>";
  const struct {
    const char* name;
    std::string file, bytes, lines;
  } cases[] = {
      {"imports and a dependency", "DLLs/x.pyd",
       Image({"KERNEL32.dll", "MSVCR90.dll"}, kAsksForRuntime),
       "DLLs/x.pyd\tmachine\t0x8664\n"
       "DLLs/x.pyd\timport\tKERNEL32.dll\n"
       "DLLs/x.pyd\timport\tMSVCR90.dll\n"
       "DLLs/x.pyd\tassembly\twin32\tMicrosoft.VC90.CRT\t9.0.21022.8\tamd64\t1fc8b3b9a1e18e3b\n"},
      {"PE32 without imports", "C:\\a b\\old.exe", Image({}, "", false),
       "C:\\a b\\old.exe\tmachine\t0x014c\n"},
      {"absent attributes as empty fields", "bare.dll", Image({"user32.dll"}, bare),
       "bare.dll\tmachine\t0x8664\nbare.dll\timport\tuser32.dll\n"
       "bare.dll\tassembly\t\tBare\t\t\t\n"},
      {"no image", "notes.dll", "just text", "notes.dll\terror\tnot a PE image (no MZ header)\n"},
      {"a cut image", "cut.dll", Image({"sqlite3.dll"}).substr(0, 0x180),
       "cut.dll\terror\ttruncated: the import directory lies outside the file\n"},
  };
  for (const auto& c : cases) {
    PeNeeds needs;
    const std::string problem = ReadPeNeeds(c.bytes, needs);
    EXPECT_EQ(ImageDescription(c.file, problem, needs), c.lines) << c.name;
  }
}

// The kit's own python27.dll: the reader finds its runtime import and the
// assembly its manifest asks for.
TEST(ReadPeNeeds, KitPython27) {
  std::ifstream file(MORVEX_KIT_DIR "/python27.dll", std::ios::binary);
  if (!file) GTEST_SKIP() << "no kit at " MORVEX_KIT_DIR;
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  PeNeeds needs;
  ASSERT_EQ(ReadPeNeeds(bytes, needs), "");
  EXPECT_NE(std::find(needs.imports.begin(), needs.imports.end(), "MSVCR90.dll"),
            needs.imports.end());
  ASSERT_EQ(needs.manifests.size(), 1u);
  const std::vector<AssemblyIdentity> dependencies = ManifestDependencies(needs.manifests[0]);
  ASSERT_EQ(dependencies.size(), 1u);
  EXPECT_EQ(dependencies[0].type + " " + dependencies[0].name + " " + dependencies[0].version +
                " " + dependencies[0].architecture + " " + dependencies[0].publicKeyToken,
            "win32 Microsoft.VC90.CRT 9.0.21022.8 amd64 1fc8b3b9a1e18e3b");
  EXPECT_EQ(
      CheckAppFolder({{kPython, bytes}}, false),
      std::vector<std::string>{kPython + kNeedsRuntime + "no private assembly in the folder"});
}

}  // namespace
