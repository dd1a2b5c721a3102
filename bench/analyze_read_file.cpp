// References for bench/analyze_throughput.sh:
//   analyze_read_file FILE          reads the file through a 1 MiB buffer
//   analyze_read_file --whole FILE  reads the whole file into one memory buffer
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    const bool whole = argc == 3 && std::strcmp(argv[1], "--whole") == 0;
    if (argc != 2 && !whole) return 2;
    std::FILE* in = std::fopen(argv[argc - 1], "rb");
    if (!in) return 1;
    unsigned long long sum = 0, total = 0;
    if (whole) {
        std::fseek(in, 0, SEEK_END);
        std::vector<unsigned char> data(static_cast<std::size_t>(std::ftell(in)));
        std::rewind(in);
        total = std::fread(data.data(), 1, data.size(), in);
        for (std::size_t i = 0; i < total; i += 4096) sum += data[i];
    } else {
        std::vector<unsigned char> buffer(1 << 20);
        for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0; total += got)
            for (std::size_t i = 0; i < got; i += 4096) sum += buffer[i];
    }
    std::fclose(in);
    std::printf("%llu bytes (checksum %llu)\n", total, sum);
    return 0;
}
