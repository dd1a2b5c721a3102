// libFuzzer target: any bytes as an Annex B stream through the splitter, the
// parsers and the access-unit detector. Built with -DKESTRUNE_FUZZ=ON and clang.
#include "tools/bitstream/bitstream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrune::h264;
    // The first byte picks the cap on kept bytes so clipped units get exercised too.
    const std::size_t keep = size && (data[0] & 1) ? 16 : AnnexBReader::kKeepAll;
    AnnexBReader reader(std::span<const std::uint8_t>(data, size), keep);
    NalParser parser;
    AccessUnitDetector detector;
    NalUnit unit;
    Trace trace;
    while (reader.next(unit)) {
        trace.clear();
        const ParsedNal p = parser.parse(unit.bytes, unit.clipped(), &trace);
        detector.startsAccessUnit(p.header, p.slice ? &*p.slice : nullptr, parser.parameterSets());
    }
    return 0;
}
