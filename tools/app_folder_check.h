// The folder rules of check_app_folder: whether the folder, or Windows
// itself, provides what the PE files of an application folder ask of the
// Windows loader (imported DLLs, side-by-side assemblies named in their
// embedded manifests), as ReadPeNeeds and the manifest text give it. Bytes
// in, problem lines out; no platform calls.
#pragma once

#include <string>
#include <vector>

#include "manifest_text.h"
#include "pe_image.h"

// A file of the folder: its path relative to the folder with "/" between
// names, and its bytes when it is a PE file or a manifest (see NeedsBytes).
struct FolderFile {
  std::string path;
  std::string bytes;
  bool readable = true;
};

// True for the files whose bytes the check reads: .exe, .dll, .pyd and
// .manifest, in any case.
bool NeedsBytes(const std::string& path);
bool IsPeFile(const std::string& path);

// What the check takes as part of Windows, as text for the help: the DLLs,
// the API sets and the assemblies.
std::string WindowsProvides();

// One line per problem, each naming the PE file (by its relative path) that
// needs what is missing. systemRuntime takes a Microsoft.VC90.CRT assembly
// that the folder does not hold as installed with Windows.
std::vector<std::string> CheckAppFolder(const std::vector<FolderFile>& files, bool systemRuntime);
