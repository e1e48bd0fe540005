// The search-path file and the statements that put its folders on sys.path:
// pure text rules, the same on every host.
#pragma once

#include <string>
#include <vector>

// The lines of a search-path file read as Windows text mode reads it: CR LF
// is LF, a lone CR stays, a 0x1A byte ends the file, and a final LF does not
// start another, empty line. Lines are otherwise verbatim.
std::vector<std::string> TextModeLines(const std::string& bytes);

// The entries used when the search-path file cannot be opened.
std::vector<std::string> DefaultSearchPathEntries();

// The folder an entry names: one beginning with "../" sits under the parent
// folder, with every "../" in it removed; any other under the program folder.
std::string ResolveSearchPathEntry(const std::string& entry, const std::string& programDirectory);

// bytes as a Python 2 byte-string literal in single quotes that evaluates to
// exactly those bytes.
std::string PythonStringLiteral(const std::string& bytes);

// The statement appending directory to sys.path, or empty when the folder
// holds a 0x00 byte, which no path can hold.
std::string SearchPathStatement(const std::string& directory);
