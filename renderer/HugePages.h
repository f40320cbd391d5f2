// Transparent huge pages for large blocks. Point arrays, metaball arrays and hierarchies are
// large, written once and then read at random: on 4 KiB pages a million metaballs spent about 40%
// of their set-up in page faults and TLB misses.
#pragma once

#include <cstddef>

namespace velquin::renderer {

// The size of a huge page: advice covers whole ones.
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Blocks smaller than this are left alone: they rarely span a whole 2 MiB page.
constexpr std::size_t kHugePageAdviceMinimum = std::size_t{4} << 20;

// Asks the kernel to back the whole 2 MiB pages inside [p, p + bytes) with huge pages when they
// are first touched. Does nothing for blocks under kHugePageAdviceMinimum; answers whether advice
// was given and taken. Safe from any thread; allocates nothing.
bool adviseHugePages(void* p, std::size_t bytes) noexcept;

} // namespace velquin::renderer
