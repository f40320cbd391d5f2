// The program's operator new: the standard one, plus huge-page advice, so that the host's
// arrays, the plug-in's and the renderer's are backed by 2 MiB pages. The sanitizers bring
// allocators of their own, which this would hide.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELQUIN_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define VELQUIN_SANITIZED_ALLOCATOR 1
#endif
#endif

#if !defined(VELQUIN_NO_RENDERER) && !defined(VELQUIN_SANITIZED_ALLOCATOR)

#include "renderer/HugePages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// The small blocks (hierarchy nodes, leaf lists) come from the heap that brk grows. Each growth
// is made large (M_TOP_PAD) and advised once it appears; sbrk(0) only reads glibc's copy of the
// break, so the check costs no system call.
constexpr std::uintptr_t kHugePage = velquin::renderer::kHugePageBytes;
std::atomic<std::uintptr_t> g_heapAdvised{0};

std::uintptr_t breakNow() {
    return reinterpret_cast<std::uintptr_t>(::sbrk(0));
}

void adviseHeapGrowth() noexcept {
    const std::uintptr_t top = breakNow() & ~(kHugePage - 1);
    std::uintptr_t done = g_heapAdvised.load(std::memory_order_relaxed);
    if (done == 0 || top <= done || !g_heapAdvised.compare_exchange_strong(done, top))
        return;
    ::madvise(reinterpret_cast<void*>(done), top - done, MADV_HUGEPAGE);
}

struct HeapGrowth {
    HeapGrowth() {
        ::mallopt(M_TOP_PAD, 32 << 20);
        // Blocks up to 32 MiB come from the heap too, and freed ones stay there for the next: a
        // block returned to the kernel comes back as fresh pages, which are slow to fault in.
        ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
        ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
        // What the heap holds already has been touched: advice starts above it.
        g_heapAdvised.store((breakNow() + kHugePage - 1) & ~(kHugePage - 1));
    }
} g_heapGrowth;

} // namespace

void* operator new(std::size_t bytes) {
    const std::size_t n = bytes != 0 ? bytes : 1;
    for (;;) {
        if (void* p = std::malloc(n)) {
            if (!velquin::renderer::adviseHugePages(p, n))
                adviseHeapGrowth();
            return p;
        }
        // The heap grows by 32 MiB more than asked: in a small address space that margin may
        // be all that does not fit. Without it, once.
        static std::atomic<bool> padDropped{false};
        if (!padDropped.exchange(true)) {
            ::mallopt(M_TOP_PAD, 0);
            continue;
        }
        // As the standard operator new: the handler may free memory, or throw, or there is none.
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr)
            throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

#endif
