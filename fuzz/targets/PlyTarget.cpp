#include "fuzz/targets/FuzzTargets.h"

#include "renderer/Errors.h"
#include "renderer/PointFile.h"

#include <string>

namespace velquin::fuzz {

int fuzzPly(const std::uint8_t* data, std::size_t size) {
    try {
        renderer::parsePly(std::string(reinterpret_cast<const char*>(data), size), "fuzz.ply");
    } catch (const renderer::BadInput&) {
    }
    return 0;
}

} // namespace velquin::fuzz
