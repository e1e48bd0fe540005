// Writes its arguments after the first, one a line, to the file named by
// the first: what the downstream test's launcher starts. The text goes to a
// file beside it first and is renamed into place, so a poller never reads
// half of it.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string part = std::string(argv[1]) + ".part";
  std::FILE* file = std::fopen(part.c_str(), "w");
  if (!file) return 1;
  for (int i = 2; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
  if (std::fclose(file) != 0) return 1;
  return std::rename(part.c_str(), argv[1]) == 0 ? 0 : 1;
}
