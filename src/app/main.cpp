#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "app/application.hpp"

namespace {

// A run builds many small records and growing queues; touching fresh heap
// one 4 KB page at a time costs more than the work on it. The heap is grown
// once by a large untouched span advised as transparent huge pages and kept
// (never trimmed nor bypassed by separate mappings), so later allocations
// fault one 2 MB page at a time. Untouched, the span costs no memory; the
// advice is a hint and changes no result.
void advise_huge_heap() {
#if !defined(__SANITIZE_ADDRESS__)
    constexpr int span = 256 << 20;
    constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest glibc accepts
    mallopt(M_TRIM_THRESHOLD, INT_MAX);  // above the span: it is never given back
    mallopt(M_TOP_PAD, span);
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // More than the heap holds, so that it grows by the pad; volatile keeps
    // the compiler from dropping the pair of calls.
    void* volatile block = std::malloc(16 << 20);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    std::free(block);
    mallopt(M_TOP_PAD, 128 << 10);  // glibc's default
    const std::uintptr_t start = (before + huge - 1) & ~(huge - 1);
    if (after > start) madvise(reinterpret_cast<void*>(start), after - start, MADV_HUGEPAGE);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    advise_huge_heap();
    return lumo::zarn::application::main(argc, argv);
}
