// What check_app_folder --describe writes of a PE file, for the build's
// scripts, which ask it rather than read PE bytes themselves. No platform
// calls.
#pragma once

#include <string>

#include "pe_image.h"

// The lines (each ending in "\n") that describe one file, read by ReadPeNeeds
// (problem and needs as it gave them), each starting with the file's name
// as given and a tab, its fields tab-separated:
//   FILE machine 0x8664  the COFF machine field, four lower-case hex digits
//   FILE import NAME     each imported DLL, delay-loaded ones included
//   FILE assembly TYPE NAME VERSION ARCHITECTURE PUBLICKEYTOKEN
//                        each dependentAssembly of its RT_MANIFEST resources,
//                        a field empty where the attribute is absent
//   FILE error WHY       alone, when problem is not empty
std::string ImageDescription(const std::string& file, const std::string& problem,
                             const PeNeeds& needs);
