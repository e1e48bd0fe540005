// The search-path file rules against plain readings of them: TextModeLines,
// ResolveSearchPathEntry, ReplaceAll and CutAtLastSeparator.
//
// Input: the whole input is the file's bytes. Split at its first two 0x00
// bytes it is also an entry, a program folder and, for ReplaceAll, a text, a
// pattern and a replacement (the pattern is the folder's first four bytes).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_location.h"
#include "search_path.h"
#include "text.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Windows text mode: a 0x1A byte ends the file, a CR followed by LF is
// dropped, every other byte is read as it is.
std::string TextMode(const std::string& bytes) {
  std::string text;
  const std::string file = bytes.substr(0, bytes.find('\x1a'));
  for (size_t i = 0; i < file.size(); ++i)
    if (!(file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')) text += file[i];
  return text;
}

// Left to right, never looking into inserted text.
std::string Replaced(const std::string& text, const std::string& pattern,
                     const std::string& replacement) {
  if (pattern.empty()) return text;
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, pattern.size(), pattern) == 0) {
      out += replacement;
      i += pattern.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string BeforeLastSlash(const std::string& path) {
  for (size_t i = path.size(); i-- > 0;)
    if (path[i] == '/') return path.substr(0, i);
  return path;
}

size_t CountParentSteps(const std::string& text) {
  size_t count = 0;
  for (size_t at = text.find("../"); at != std::string::npos; at = text.find("../", at + 3))
    ++count;
  return count;
}

void CheckLines(const std::string& bytes) {
  const std::vector<std::string> lines = TextModeLines(bytes);
  const std::string text = TextMode(bytes);
  std::string joined;
  for (const std::string& line : lines) {
    Check(line.find('\n') == std::string::npos);
    Check(line.find('\x1a') == std::string::npos);
    joined += line + "\n";
  }
  // Each line gained an LF here; in the text the last one may have none.
  Check(lines.empty() == text.empty());
  if (!text.empty() && text.back() != '\n') joined.pop_back();
  Check(joined == text);
}

void CheckEntry(const std::string& entry, const std::string& folder) {
  const std::string resolved = ResolveSearchPathEntry(entry, folder);
  if (entry.compare(0, 3, "../") != 0) {
    Check(resolved == folder + "/" + entry);
    return;
  }
  const std::string parent = BeforeLastSlash(folder);
  Check(resolved.compare(0, parent.size() + 1, parent + "/") == 0);
  const std::string rest = resolved.substr(parent.size() + 1);
  // Every "../" of the entry is gone, and nothing else.
  Check(rest == Replaced(entry, "../", ""));
  Check(rest.size() == entry.size() - 3 * CountParentSteps(entry));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(data, data + size);
  CheckLines(bytes);

  const size_t first = bytes.find('\0');
  const std::string entry = bytes.substr(0, first);
  const std::string rest = first == std::string::npos ? std::string() : bytes.substr(first + 1);
  const size_t second = rest.find('\0');
  const std::string folder = rest.substr(0, second);
  const std::string third = second == std::string::npos ? std::string() : rest.substr(second + 1);
  CheckEntry(entry, folder);
  CheckEntry("../" + entry, folder);
  // The file's first lines as entries too (all of them would make a long
  // input cost its length squared).
  const std::vector<std::string> lines = TextModeLines(bytes);
  for (size_t i = 0; i < lines.size() && i < 8; ++i) CheckEntry(lines[i], folder);

  Check(CutAtLastSeparator(folder) == BeforeLastSlash(folder));
  Check(CutAtLastSeparator(entry) == BeforeLastSlash(entry));
  const std::string pattern = folder.substr(0, 4);
  Check(ReplaceAll(entry, pattern, third) == Replaced(entry, pattern, third));
  Check(ReplaceAll(third, "../", "") == Replaced(third, "../", ""));
  return 0;
}
