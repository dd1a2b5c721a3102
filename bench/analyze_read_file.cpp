// The reference for bench/analyze_throughput.sh: reads a file into memory in
// 1 MiB pieces and touches every byte, as plainly as possible.
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) return 1;
    std::vector<unsigned char> buffer(1 << 20);
    unsigned long long sum = 0, total = 0;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0; total += got)
        for (std::size_t i = 0; i < got; i += 64) sum += buffer[i];
    std::fclose(in);
    std::printf("%llu bytes (checksum %llu)\n", total, sum);
    return 0;
}
