// The rules of check_app_folder: what the PE files of an application folder
// ask of the Windows loader (imported DLLs, side-by-side assemblies named in
// their embedded manifests) and whether the folder, or Windows itself,
// provides it. Bytes in, problem lines out; no platform calls.
#pragma once

#include <string>
#include <vector>

// A side-by-side assembly as a manifest names it.
struct AssemblyIdentity {
  std::string name;
  std::string version;
  std::string architecture;
  std::string publicKeyToken;
};

// What a PE image asks of the loader: the DLLs it imports (delay-loaded ones
// included), in the image's own spelling, and its RT_MANIFEST resources.
struct PeNeeds {
  std::vector<std::string> imports;
  std::vector<std::string> manifests;
};

// Reads the import and delay-load directories and every RT_MANIFEST
// resource (any id or name) of a PE32 or PE32+ image. Every read is checked
// against the buffer. Empty on success, else why the bytes cannot be read
// as an image ("not a PE image ...", "truncated: ...").
std::string ReadPeNeeds(const std::string& bytes, PeNeeds& needs);

// The assemblies named in a manifest's <dependentAssembly> elements.
std::vector<AssemblyIdentity> ManifestDependencies(const std::string& manifest);

// The manifest's own <assemblyIdentity> (the one ahead of any dependency);
// all fields empty when it has none.
AssemblyIdentity ManifestIdentity(const std::string& manifest);

// The name of every <file> element of an assembly manifest.
std::vector<std::string> ManifestFiles(const std::string& manifest);

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
