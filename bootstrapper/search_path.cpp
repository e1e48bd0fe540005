#include "search_path.h"

#include "program_location.h"
#include "text.h"

namespace {

bool EndsWithExe(const std::string& path) {
  return path.size() >= 4 && AsciiLower(path.substr(path.size() - 4)) == ".exe";
}

}  // namespace

std::string SearchPathFileName(const std::string& programPath) {
  // Replacing only the suffix keeps a folder such as "x.exe.d" intact, and a
  // name without ".exe" (Linux, or ".EXE") must not name the program itself.
  if (EndsWithExe(programPath)) return programPath.substr(0, programPath.size() - 4) + ".pth";
  return programPath + ".pth";
}

std::vector<std::string> TextModeLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool pending = false;  // a line has begun that no LF has ended yet
  const size_t end = bytes.find('\x1a');
  const size_t size = end == std::string::npos ? bytes.size() : end;
  for (size_t i = 0; i < size; ++i) {
    const char c = bytes[i];
    if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
      pending = false;
    } else {
      line += c;
      pending = true;
    }
  }
  if (pending) lines.push_back(line);
  return lines;
}

std::vector<std::string> DefaultSearchPathEntries() {
  return {"python27.zip", "modules", "modules/win32modules/win32/lib"};
}

std::string ResolveSearchPathEntry(const std::string& entry, const std::string& programDirectory) {
  if (entry.compare(0, 3, "../") == 0)
    return CutAtLastSeparator(programDirectory) + "/" + ReplaceAll(entry, "../", "");
  return programDirectory + "/" + entry;
}

std::string PythonStringLiteral(const std::string& bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string literal = "'";
  for (const char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '\'') {
      literal += '\\';
      literal += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      // Raw control bytes would end or bend the statement, and non-ASCII
      // source without a coding line is an error in Python 2.
      literal += "\\x";
      literal += hex[byte >> 4];
      literal += hex[byte & 0xf];
    } else {
      literal += c;
    }
  }
  return literal + "'";
}

std::string SearchPathStatement(const std::string& directory) {
  if (directory.find('\0') != std::string::npos) return std::string();
  return "sys.path.append(" + PythonStringLiteral(directory) + ")";
}

std::vector<std::string> SearchPathStatements(const std::optional<std::string>& fileBytes,
                                              const std::string& programDirectory) {
  const std::vector<std::string> entries =
      fileBytes ? TextModeLines(*fileBytes) : DefaultSearchPathEntries();
  std::vector<std::string> statements;
  for (const std::string& entry : entries) {
    const std::string statement =
        SearchPathStatement(ResolveSearchPathEntry(entry, programDirectory));
    if (!statement.empty()) statements.push_back(statement);
  }
  return statements;
}
