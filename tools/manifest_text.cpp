#include "manifest_text.h"

#include <algorithm>

namespace {

const size_t npos = std::string::npos;

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
  return {Attribute(tag, "type"), Attribute(tag, "name"), Attribute(tag, "version"),
          Attribute(tag, "processorArchitecture"), Attribute(tag, "publicKeyToken")};
}

}  // namespace

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
