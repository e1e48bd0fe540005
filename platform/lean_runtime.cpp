// A lean C++ runtime for the launcher stub, which is copied into
// every concrete launcher. The static libstdc++ versions of these throw, and
// pulling in its exception machinery would grow the stub sixfold. The stub
// never catches anything: running out of memory ends it, as the throw would.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) std::abort();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// The library's own error paths of its containers, called only when a size
// overflows or memory runs out. This relies on libstdc++ sending them all
// through <bits/functexcept.h>. Defined by qualified name, each must match one
// declared there: the build stops rather than link a throwing one beside ours.
#include <bits/functexcept.h>

void std::__throw_bad_alloc() { std::abort(); }
void std::__throw_bad_array_new_length() { std::abort(); }
void std::__throw_length_error(const char*) { std::abort(); }
void std::__throw_logic_error(const char*) { std::abort(); }
void std::__throw_out_of_range(const char*) { std::abort(); }
void std::__throw_out_of_range_fmt(const char*, ...) { std::abort(); }
