// Reads and dismisses the error boxes of a program that a test runs under
// Wine, where nobody can click them. Every box titled "Python Exception" is
// written to standard output as "caption: text" and a line feed (the form
// the POSIX stand-in writes to standard error), then its OK button is
// clicked. Runs until the file named by its argument exists.
//
//   read_message_box STOP_FILE
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The static control that holds a message box's text.
const int messageTextId = 0xffff;

// The box's text in the ANSI code page, as MessageBoxA was given it.
std::string BoxText(HWND box) {
  wchar_t text[4096] = {};
  GetDlgItemTextW(box, messageTextId, text, sizeof text / sizeof text[0]);
  char bytes[4 * 4096] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  return bytes;
}

void Dismiss(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  if (ok) {
    SendMessageW(ok, BM_CLICK, 0, 0);
  } else {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(10);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF alone, as on POSIX
  while (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) {
    if (HWND box = FindWindowW(L"#32770", L"Python Exception")) {
      const std::string line = "Python Exception: " + BoxText(box) + "\n";
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
      Dismiss(box);
    }
    Sleep(20);
  }
  return 0;
}
