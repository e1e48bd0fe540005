// The Windows services both programs use. On Windows these are the real
// Win32 declarations; on POSIX hosts they are our own stand-ins with the same
// names, types and record layouts, so the programs' code is the same on both.
#pragma once

#include "wide_string.h"

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// shellapi.h builds on the declarations of windows.h.
#include <shellapi.h>

#else

#include <cstdint>

typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned char BYTE;
typedef BYTE* LPBYTE;
typedef void* LPVOID;
typedef void* HANDLE;
typedef HANDLE HINSTANCE;
typedef HANDLE HMODULE;
typedef HANDLE HWND;
typedef void* HLOCAL;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;

#define WINAPI
#define TRUE 1
#define FALSE 0

#define CW_USEDEFAULT (static_cast<int>(0x80000000))
#define STARTF_USESTDHANDLES 0x00000100
#define CREATE_NO_WINDOW 0x08000000
#define MB_ICONERROR 0x00000010

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// Same field order and types as the Win32 record, so that its size is 104
// bytes on x86-64 here as well.
struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;
static_assert(sizeof(void*) != 8 || sizeof(STARTUPINFOW) == 104, "the Win32 layout");

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

// The path of the running executable (/proc/self/exe). Like the Win32 call it
// cuts the path to the buffer, NUL-terminated, and then returns nSize.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// The process arguments joined by the Windows quoting rules into one line.
LPWSTR GetCommandLineW();

// Splits by the Windows rules; the vector is one allocation, as on Windows.
LPWSTR* CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs);

// Releases the vector of CommandLineToArgvW.
HLOCAL LocalFree(HLOCAL hMem);

// Starts the program lpApplicationName or, when that is null, the first token
// of the command line (searched on PATH when it holds no "/"), with the
// tokens behind the first as arguments, in a new session, without
// waiting for it. Null standard handles become /dev/null.
BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                    LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);

// Writes "caption: text\n" to standard error in one write and returns 1 (OK).
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// The program's entry; the stand-in's main() calls it with null handles.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

#endif
