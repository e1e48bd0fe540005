// FindLaunchCommand over a launcher-sized image with a trailer and over a
// large image with no marker, beside memchr over the same buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "launch_command.h"

namespace {

// Random bytes with every '#' removed, so no marker occurs by chance and the
// backward scan has to visit every position.
std::string Image(size_t size) {
  std::string bytes(size, '\0');
  std::mt19937 random(42);
  for (char& byte : bytes) {
    byte = static_cast<char>(random());
    if (byte == '#') byte = 'x';
  }
  return bytes;
}

void FindWithTrailer(benchmark::State& state) {
  std::string image = Image(256 * 1024);
  image += "#!\"C:\\Program Files\\App\\morvex_desktop.exe\" --start";
  image += '\0';
  std::string command;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindLaunchCommand(image.data(), image.size(), command));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}

void FindWithoutMarker(benchmark::State& state) {
  const std::string image = Image(static_cast<size_t>(state.range(0)));
  std::string command;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindLaunchCommand(image.data(), image.size(), command));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}

// memchr for a byte that is not there: the speed of one plain pass.
void MemchrWithoutMatch(benchmark::State& state) {
  const std::string image = Image(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memchr(image.data(), '#', image.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}

}  // namespace

BENCHMARK(FindWithTrailer);
BENCHMARK(FindWithoutMarker)->Arg(256 * 1024)->Arg(64 << 20);
BENCHMARK(MemchrWithoutMatch)->Arg(256 * 1024)->Arg(64 << 20);
BENCHMARK_MAIN();
