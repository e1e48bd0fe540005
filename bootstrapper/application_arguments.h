// What the application receives as sys.argv: byte strings in the ANSI code
// page, as Python 2.7 applications expect, made from the wide command line
// without best-fit look-alikes. Pure text logic: the conversion and the
// short-name lookup are the caller's.
#pragma once

#include <string>
#include <vector>

#include "wide_string.h"

// Converts text to its narrow form; true when nothing was lost.
typedef bool (*NarrowConversion)(const WideString& text, std::string& bytes);
// The short (8.3) name of an existing file or folder; false when none.
typedef bool (*ShortNameLookup)(const WideString& path, WideString& shortPath);

// sys.argv from the arguments split from the wide command line, argument 0
// first. An argument whose narrow form lost nothing is passed so; one that
// names a file or folder whose short name converts exactly is passed as
// that short name, which opens the very file the user chose; any other
// keeps "?" for each character lost: "?" is never part of a Windows path, so
// it opens no other file, and nothing is split or joined. Argument 0 is the
// program: where its narrow form lost characters and the program goes by
// its short path (shortened), that path (programFile) takes its place, as
// it does where the line is empty.
std::vector<std::string> ApplicationArgv(const std::vector<WideString>& arguments,
                                         const std::string& programFile, bool shortened,
                                         NarrowConversion narrow, ShortNameLookup shortName);
