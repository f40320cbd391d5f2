// Huge-page advice for large blocks: the advice reaches the kernel for the whole 2 MiB pages
// inside a block, and small or empty blocks are left alone.
#include "renderer/HugePages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace velquin::renderer {
namespace {

// The VmFlags line of the mapping that holds address a, or "" when none does.
std::string vmFlagsAt(std::uintptr_t a) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long long lo = 0, hi = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx ", &lo, &hi) == 2 && line.find('-') < 17) {
            inside = a >= lo && a < hi;
            continue;
        }
        if (inside && line.rfind("VmFlags:", 0) == 0)
            return line;
    }
    return "";
}

bool hasHugeFlag(std::uintptr_t a) {
    std::istringstream flags(vmFlagsAt(a));
    std::string f;
    while (flags >> f)
        if (f == "hg")
            return true;
    return false;
}

TEST(HugePages, LargeBlocksAreAdvisedWholePagesOnly) {
    const std::size_t bytes = std::size_t{12} << 20;
    void* block = std::malloc(bytes);
    ASSERT_NE(block, nullptr);
    if (!adviseHugePages(block, bytes)) {
        std::free(block);
        GTEST_SKIP() << "this kernel takes no huge-page advice";
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t huge = kHugePageBytes;
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    EXPECT_TRUE(hasHugeFlag(first));
    EXPECT_TRUE(hasHugeFlag(first + (std::size_t{8} << 20) - 1));
    // The partial page at the block's start keeps its flags, and the block stays usable.
    if (first > begin) {
        EXPECT_FALSE(hasHugeFlag(first - 1));
    }
    static_cast<char*>(block)[0] = 1;
    static_cast<char*>(block)[bytes - 1] = 2;
    std::free(block);
}

TEST(HugePages, SmallAndEmptyBlocksAreLeftAlone) {
    EXPECT_FALSE(adviseHugePages(nullptr, std::size_t{64} << 20));
    void* small = std::malloc(kHugePageAdviceMinimum - 1);
    ASSERT_NE(small, nullptr);
    EXPECT_FALSE(adviseHugePages(small, kHugePageAdviceMinimum - 1));
    std::free(small);
}

} // namespace
} // namespace velquin::renderer
