// Checks, before an application folder ships, that the Windows loader will
// find what its programs and libraries need on a machine that has nothing
// but Windows. Release scripts and the tests run it: one line per problem and
// a summary on standard output, and the exit status says whether all
// resolves. With --describe it writes what PE files ask for instead, for the
// build's scripts. --help gives the rules.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app_folder_check.h"
#include "files.h"
#include "image_description.h"
#include "process.h"
#include "text.h"

namespace {

const char kUsage[] =
    "usage: check_app_folder FOLDER [--system-runtime]\n"
    "       check_app_folder --describe FILE...\n"
    "       check_app_folder --help\n";

const char kRules[] =
    "\n"
    "Checks every program and library in FOLDER and its subfolders (.exe, .dll,\n"
    ".pyd) as the Windows loader will see it:\n"
    "  - each DLL it imports (delay-loaded ones too) is part of Windows, or a file\n"
    "    in FOLDER (the program's folder) or, for a file in a subfolder (extension\n"
    "    modules and the DLLs beside them, which Python loads with the altered\n"
    "    search path), in that file's own folder;\n"
    "  - each side-by-side assembly that its embedded manifest asks for is a\n"
    "    private assembly in the file's own folder, NAME.manifest or\n"
    "    NAME/NAME.manifest, whose assemblyIdentity has the name, version,\n"
    "    processorArchitecture and publicKeyToken asked for, and whose <file>\n"
    "    entries are all there;\n"
    "  - msvcr90.dll, msvcp90.dll and msvcm90.dll come only through a resolved\n"
    "    Microsoft.VC90.CRT assembly that the file, the program or (for a module\n"
    "    without a manifest of its own) python27.dll asks for: Windows refuses a\n"
    "    loose copy.\n"
    "\n"
    "  --system-runtime  a Microsoft.VC90.CRT assembly that the folder lacks counts\n"
    "                    as installed with Windows (the Visual C++ 2008 SP1 x64\n"
    "                    redistributable): a promise about the users' machines.\n"
    "\n"
    "  --describe FILE...\n"
    "                    describes each FILE instead, in order, as the check reads\n"
    "                    a PE file: lines of tab-separated fields, each starting\n"
    "                    with FILE as given:\n"
    "                      FILE machine 0x8664  the COFF machine (0x014c for x86)\n"
    "                      FILE import NAME     each DLL it imports, delay-loaded\n"
    "                                           ones too, in its order and spelling\n"
    "                      FILE assembly TYPE NAME VERSION ARCHITECTURE TOKEN\n"
    "                                           each dependentAssembly of its\n"
    "                                           embedded manifests; a field is\n"
    "                                           empty where the attribute is absent\n"
    "                      FILE error WHY       alone, when FILE cannot be read or\n"
    "                                           is no PE image\n"
    "\n"
    "Part of Windows (10 and 11, x64):\n";

const char kExit[] =
    ".\n"
    "\n"
    "Exit status: 0 all resolves (--describe: every FILE was read); 1 something is\n"
    "missing or unreadable (--describe: an error line); 2 wrong usage.\n";

int Usage(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "check_app_folder: %s\n", message.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// The text in lines of at most 80 columns, each indented by two blanks.
std::string Wrapped(const std::string& text) {
  std::string lines, line;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > 78) {
      lines += "  " + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  return lines + "  " + line;
}

int Help() {
  std::fputs(kUsage, stdout);
  std::fputs(kRules, stdout);
  std::fputs(Wrapped(WindowsProvides()).c_str(), stdout);
  std::fputs(kExit, stdout);
  return 0;
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// UTF-8 text of a path, as std::string in C++17 and C++20 alike.
template <typename Text>
std::string Bytes(const Text& text) {
  return std::string(text.begin(), text.end());
}

// Every file below root, sorted by path, with the bytes of those the check
// reads. Empty when the folder can be listed to the end, else why not.
std::string ListFolder(const std::filesystem::path& root, std::vector<FolderFile>& files) {
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(root, error), end;
  for (; !error && entry != end; entry.increment(error)) {
    std::error_code kind;
    if (!entry->is_regular_file(kind)) continue;
    FolderFile file;
    file.path = Bytes(entry->path().lexically_relative(root).generic_u8string());
    if (NeedsBytes(file.path))
      file.readable = ReadWholeFile(Utf8ToWide(Bytes(entry->path().u8string())), file.bytes);
    files.push_back(file);
  }
  std::sort(files.begin(), files.end(),
            [](const FolderFile& a, const FolderFile& b) { return a.path < b.path; });
  return error ? error.message() : std::string();
}

int CheckFolder(const WideString& folder, bool systemRuntime) {
  std::filesystem::path root = std::filesystem::u8path(WideToUtf8(folder));
  // Without its trailing separator, so that the files' paths come out relative to it.
  if (!root.has_filename() && root.has_relative_path()) root = root.parent_path();
  std::error_code error;
  if (!std::filesystem::is_directory(root, error))
    return Usage("\"" + WideToUtf8(folder) + "\" is not a folder");
  std::vector<FolderFile> files;
  const std::string listing = ListFolder(root, files);
  std::vector<std::string> problems = CheckAppFolder(files, systemRuntime);
  if (!listing.empty()) problems.push_back("the folder cannot be read to the end: " + listing);
  for (const std::string& problem : problems) PrintLine(problem);
  const size_t images = std::count_if(files.begin(), files.end(),
                                      [](const FolderFile& file) { return IsPeFile(file.path); });
  const std::string counted = std::to_string(images) + (images == 1 ? " PE file, " : " PE files, ");
  if (problems.empty()) {
    PrintLine("check_app_folder: " + counted + "all dependencies resolve");
    return 0;
  }
  PrintLine("check_app_folder: " + counted + std::to_string(problems.size()) +
            (problems.size() == 1 ? " problem" : " problems"));
  return 1;
}

// The lines of each file in order; 1 when any of them could not be read.
int Describe(const std::vector<WideString>& files) {
  bool allRead = true;
  for (const WideString& file : files) {
    std::string bytes, problem = "cannot be read";
    PeNeeds needs;
    if (ReadWholeFile(file, bytes)) problem = ReadPeNeeds(bytes, needs);
    allRead = allRead && problem.empty();
    const std::string lines = ImageDescription(WideToUtf8(file), problem, needs);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
  }
  return allRead ? 0 : 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::vector<WideString> arguments = CommandLineArguments();

  if (arguments.size() == 1 && WideToUtf8(arguments[0]) == "--help") return Help();
  // Every argument behind --describe is a file, whatever it looks like.
  if (!arguments.empty() && WideToUtf8(arguments[0]) == "--describe") {
    if (arguments.size() == 1) return Usage("name the files to describe");
    return Describe(std::vector<WideString>(arguments.begin() + 1, arguments.end()));
  }
  WideString folder;
  bool systemRuntime = false;
  for (const WideString& argument : arguments) {
    const std::string text = WideToUtf8(argument);
    if (text == "--system-runtime")
      systemRuntime = true;
    else if (text == "--describe")
      return Usage("--describe comes first, followed by the files alone");
    else if (text.compare(0, 2, "--") == 0)
      return Usage("unknown option " + text);
    else if (!folder.empty() || argument.empty())
      return Usage("name one folder");
    else
      folder = argument;
  }
  if (folder.empty()) return Usage("name the folder to check");
  return CheckFolder(folder, systemRuntime);
}
