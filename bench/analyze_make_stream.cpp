// Writes a real encoded QCIF stream (libx264) for bench/analyze_throughput.sh.
#include "tests/tools/bitstream/encoded_stream.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FRAMES OUTPUT\n", argv[0]);
        return 2;
    }
    kestrune::h264::testing::EncodeOptions options;
    options.frames = std::atoi(argv[1]);
    options.keyint = 50;
    const auto stream = kestrune::h264::testing::encodeTestStream(options);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(stream.bytes.data(), 1, stream.bytes.size(), out) != stream.bytes.size() || std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    std::printf("%zu bytes, %d NAL units, %d pictures\n", stream.bytes.size(), stream.nalUnits, stream.frames);
    return 0;
}
