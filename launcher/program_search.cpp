#include "program_search.h"

#include <algorithm>

#include "command_line.h"
#include "files.h"
#include "process.h"

namespace {

void AppendAscii(WideString& text, const char* ascii) {
  while (*ascii) text += WCHAR(*ascii++);
}

bool StartsWith(const WideString& text, const char* ascii) {
  for (size_t i = 0; ascii[i]; ++i)
    if (i >= text.size() || text[i] != WCHAR(ascii[i])) return false;
  return true;
}

// The folder part of a path with its closing separator, or nothing.
WideString FolderOf(const WideString& path) {
  size_t i = path.size();
  while (i > 0 && !IsWindowsSeparator(path[i - 1])) --i;
  return path.substr(0, i);
}

WideString InFolder(const WideString& folder, const WideString& name, WCHAR separator) {
  if (folder.empty() || folder.back() == separator || folder.back() == '/') return folder + name;
  return folder + separator + name;
}

std::vector<WideString> SplitList(const WideString& text, WCHAR separator) {
  std::vector<WideString> items(1);
  for (const WCHAR c : text) {
    if (c == separator)
      items.emplace_back();
    else
      items.back() += c;
  }
  return items;
}

// Whether the program token is a name to search for, not a path taken as is.
bool ProgramIsSearched(const WideString& program, bool windowsRules) {
  if (!windowsRules) return program.find('/') == WideString::npos;
  const bool relativeToCurrent = StartsWith(program, ".\\") || StartsWith(program, "./") ||
                                 StartsWith(program, "..\\") || StartsWith(program, "../");
  return !program.empty() && !StartsWithDrive(program) && !IsWindowsSeparator(program[0]) &&
         !relativeToCurrent;
}

std::vector<WideString> WindowsCandidates(const WideString& program, const WideString& launcherPath,
                                          const WideString& pathVariable) {
  WideString name = program;
  if (name.find('.', FolderOf(name).size()) == WideString::npos) AppendAscii(name, ".exe");
  if (!ProgramIsSearched(program, true)) return {name};
  std::vector<WideString> candidates = {FolderOf(launcherPath) + name};
  for (WideString folder : SplitList(pathVariable, ';')) {
    folder.erase(std::remove(folder.begin(), folder.end(), WCHAR('"')), folder.end());
    if (!folder.empty()) candidates.push_back(InFolder(folder, name, '\\'));
  }
  return candidates;
}

// An empty entry, which would stand for the current folder, is left out.
std::vector<WideString> PosixCandidates(const WideString& program, const WideString& pathVariable) {
  if (!ProgramIsSearched(program, false)) return {program};
  std::vector<WideString> candidates;
  for (const WideString& folder : SplitList(pathVariable, ':'))
    if (!folder.empty()) candidates.push_back(InFolder(folder, program, '/'));
  return candidates;
}

bool HoldsWindowsSeparator(const WideString& text) {
  for (const WCHAR c : text)
    if (IsWindowsSeparator(c)) return true;
  return false;
}

// Options, absolute paths and quoted arguments end the words that a path
// with blanks could go on with.
bool IsPlainWord(const WideString& word) {
  return word[0] != '-' && word[0] != '"' && !IsWindowsSeparator(word[0]) && !StartsWithDrive(word);
}

// The next word (a run of non-blanks) at or after from; begin == line.size()
// when there is none.
void NextWord(const WideString& line, size_t from, size_t& begin, size_t& end) {
  begin = from;
  while (begin < line.size() && IsBlank(line[begin])) ++begin;
  end = begin;
  while (end < line.size() && !IsBlank(line[end])) ++end;
}

}  // namespace

WideString ProgramToken(const WideString& command) {
  WideString program;
  if (!command.empty()) SplitProgramName(command, 0, program);
  return program;
}

size_t SpacedProgramPathEnd(const WideString& line) {
  size_t begin, end;
  NextWord(line, 0, begin, end);
  if (begin != 0 || line.empty() || line[0] == '"' || !HoldsWindowsSeparator(line.substr(0, end)))
    return 0;
  for (NextWord(line, end, begin, end); begin < line.size(); NextWord(line, end, begin, end)) {
    const WideString word = line.substr(begin, end - begin);
    if (!IsPlainWord(word)) return 0;
    if (HoldsWindowsSeparator(word)) return end;
  }
  return 0;
}

std::vector<WideString> ProgramCandidates(const WideString& program, const WideString& launcherPath,
                                          const WideString& pathVariable, bool windowsRules) {
  if (program.empty()) return {};
  return windowsRules ? WindowsCandidates(program, launcherPath, pathVariable)
                      : PosixCandidates(program, pathVariable);
}

bool FindProgramFile(const WideString& program, const WideString& launcherPath, WideString& file,
                     std::vector<WideString>& candidates) {
  // The host's own rules alone, so that a program carries no other.
  candidates = program.empty()     ? std::vector<WideString>()
               : kWindowsPathRules ? WindowsCandidates(program, launcherPath, ProgramSearchPath())
                                   : PosixCandidates(program, ProgramSearchPath());
  for (const WideString& candidate : candidates) {
    if (!IsProgramFile(candidate)) continue;
    file = candidate;
    return true;
  }
  return !program.empty() && !ProgramIsSearched(program, kWindowsPathRules);
}
