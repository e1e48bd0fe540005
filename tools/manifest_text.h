// What check_app_folder reads in the text of side-by-side manifests: the
// assemblies a manifest depends on, its own identity and the files it lists.
// A tolerant scan of tags and attributes, not an XML parser: comments are
// skipped, namespace prefixes and either quote accepted, anything else
// passed over. No platform calls.
#pragma once

#include <string>
#include <vector>

// A side-by-side assembly as a manifest names it; empty fields where the
// attribute is absent.
struct AssemblyIdentity {
  std::string type;
  std::string name;
  std::string version;
  std::string architecture;
  std::string publicKeyToken;
};

// The assemblies named in a manifest's <dependentAssembly> elements.
std::vector<AssemblyIdentity> ManifestDependencies(const std::string& manifest);

// The manifest's own <assemblyIdentity> (the one ahead of any dependency);
// all fields empty when it has none.
AssemblyIdentity ManifestIdentity(const std::string& manifest);

// The name of every <file> element of an assembly manifest.
std::vector<std::string> ManifestFiles(const std::string& manifest);
