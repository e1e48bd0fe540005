// The Windows command-line rules: how one line splits into arguments and how
// an argument is written so that the split gives it back. Pure text logic.
#pragma once

#include <vector>

#include "wide_string.h"

// A blank, which ends an unquoted token: a space or a tab.
inline bool IsBlank(WCHAR c) { return c == ' ' || c == '\t'; }

// A folder separator of Windows paths.
inline bool IsWindowsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

// Whether the text starts with a drive ("C:").
inline bool StartsWithDrive(const WideString& text) {
  return text.size() >= 2 && text[1] == ':' &&
         ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
}

// Splits a command line as CommandLineToArgvW does. The first token is the
// program name: it ends at the next space or tab, or, when it opens with a
// double quote, at the next double quote, with no backslash escapes. Every
// later token follows the escape rules: 2n backslashes before a quote give n
// backslashes and a quote that opens or closes a quoted part, 2n+1 give n
// backslashes and a literal quote; inside a quoted part, a doubled quote gives
// a literal quote and ends the part. An empty line gives no tokens.
std::vector<WideString> SplitCommandLine(const WideString& line);

// Splits a command line as the Microsoft C runtime makes argv of it, which
// differs from CommandLineToArgvW in two places. The program name may hold
// quoted parts: each quote opens or closes one, and only a blank outside
// them ends the name ("a b"c is one name, a bc). Inside a quoted part of a
// later token, a doubled quote gives a literal quote and the part goes on
// ("a"" b" is one token, a" b). An empty line gives no tokens.
std::vector<WideString> SplitArgumentVector(const WideString& line);

// Reads the program name that starts at position i of the line, as
// SplitCommandLine does, into program; the position after it.
size_t SplitProgramName(const WideString& line, size_t i, WideString& program);

// Appends the argument as the split reads it back exactly: unchanged when it
// is non-empty and holds no space, tab, line feed, vertical tab or quote;
// otherwise inside quotes, with each quote escaped and the backslashes before
// a quote, or before the closing quote, doubled.
void AppendQuotedArgument(WideString& line, const WideString& argument);

// Appends a program name, which the split takes without escapes: quoted when
// it is empty or holds a space or tab.
void AppendProgramName(WideString& line, const WideString& program);

// The command line that gives back exactly these tokens: the first written
// by AppendProgramName, each later one, behind a space, by
// AppendQuotedArgument. A program name holding a double quote cannot be
// written so; the caller refuses one.
WideString JoinCommandLine(const std::vector<WideString>& tokens);
