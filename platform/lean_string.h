// Forced ahead of every source of the shipped programs (lean_code). Up to
// C++17 libstdc++ declares std::string and std::wstring instantiated in the
// library, so a program would link the whole class with its exception paths
// (about 130 KiB more in the launcher stub); without those declarations it
// gets only the members it uses. This relies on _GLIBCXX_EXTERN_TEMPLATE.
#pragma once
#include <bits/c++config.h>
#ifndef _GLIBCXX_EXTERN_TEMPLATE
#error "libstdc++ no longer controls its prebuilt instantiations as expected"
#endif
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
