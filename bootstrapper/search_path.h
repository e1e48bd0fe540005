// The search path of the application: the search-path file beside the
// program, how it is read, where each of its entries points, and the
// statements that put those folders on sys.path. The same rules on every
// host; no platform calls and no interpreter.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The search-path file beside the program: a trailing ".exe" (any case)
// becomes ".pth", any other name gets ".pth" appended. Folders never change.
std::string SearchPathFileName(const std::string& programPath);

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

// The statements that append the application's folders to sys.path, in
// order: one for each line of the search-path file's bytes (read in binary,
// so that one text-mode rule holds on every host), or for each default entry
// when there are none: the file could not be read.
std::vector<std::string> SearchPathStatements(const std::optional<std::string>& fileBytes,
                                              const std::string& programDirectory);
