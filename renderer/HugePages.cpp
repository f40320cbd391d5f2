#include "renderer/HugePages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velquin::renderer {

bool adviseHugePages(void* p, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = kHugePageBytes;
    if (p == nullptr || bytes < kHugePageAdviceMinimum)
        return false;
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHuge - 1);
    if (last <= first)
        return false;
    return ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0;
#else
    (void)p;
    (void)bytes;
    return false;
#endif
}

} // namespace velquin::renderer
