// Stand-in for the NAL unit analyzer in window tests. Its "stream" is a text
// file of NAL unit type words (SPS PPS SEI I P B, anything else is another
// type), optionally preceded by lines that steer it:
//   #no-report    analyze.txt is gone when it ends (as if never written)
//   #no-summary   general.txt is removed instead of written
//   #no-debug     mode 2 writes no debug.txt
//   #summary      every following line is written to general.txt verbatim
// Modes: 0 writes general.txt and reports; 2 N describes NAL unit N in
// debug.txt; 3 N removes NAL unit N from the stream file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Stream {
    std::vector<std::string> flags;
    std::vector<std::string> units;
    std::string summary;
    bool hasSummary = false;
    bool has(const std::string& flag) const
    {
        for (const auto& f : flags)
            if (f == flag) return true;
        return false;
    }
};

Stream load(const std::string& path)
{
    std::ifstream in(path);
    if (!in) {
        std::cerr << "stand-in: cannot read " << path << '\n';
        std::exit(1);
    }
    Stream s;
    std::string line;
    while (std::getline(in, line)) {
        if (s.hasSummary) {
            s.summary += line + "\r\n";
        } else if (line == "#summary") {
            s.hasSummary = true;
        } else if (!line.empty() && line[0] == '#') {
            s.flags.push_back(line.substr(1));
        } else {
            std::istringstream words(line);
            for (std::string w; words >> w;) s.units.push_back(w);
        }
    }
    return s;
}

std::string computedSummary(const Stream& s)
{
    // Counts in file order T S Q R I P B, then the numbers of each type.
    const char* groups[] = {"SEI", "SPS", "PPS", "I", "P", "B"};
    std::ostringstream out;
    out << s.units.size();
    for (const char* type : groups) {
        int count = 0;
        for (const auto& u : s.units) count += (u == type);
        out << ' ' << count;
    }
    out << "\r\n";
    for (const char* type : groups) {
        for (std::size_t i = 0; i < s.units.size(); ++i)
            if (s.units[i] == type) out << i + 1 << ' ';
        out << "\r\n";
    }
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: stand-in STREAM MODE [N]\n";
        return 2;
    }
    const std::string path = argv[1];
    const int mode = std::atoi(argv[2]);
    Stream s = load(path);

    if (mode == 0) {
        if (s.has("no-summary")) {
            std::filesystem::remove("general.txt");
        } else {
            std::ofstream("general.txt", std::ios::binary) << (s.hasSummary ? s.summary : computedSummary(s));
        }
        std::cout << "stand-in analyzed " << path << ": " << s.units.size() << " NAL units\n";
        if (s.has("no-report")) std::filesystem::remove("analyze.txt");
        return 0;
    }
    if (argc < 4) return 2;
    const int n = std::atoi(argv[3]);
    if (mode == 2) {
        if (s.has("no-debug")) return 0;
        std::ofstream debug("debug.txt", std::ios::binary);
        if (n >= 1 && std::size_t(n) <= s.units.size())
            debug << "NAL unit " << n << " of " << path << ": " << s.units[std::size_t(n - 1)] << "\r\n";
        else
            debug << "NAL unit " << n << " of " << path << ": none\r\n";
        return 0;
    }
    if (mode == 3) {
        if (n < 1 || std::size_t(n) > s.units.size()) {
            std::cerr << "stand-in: no NAL unit " << n << '\n';
            return 1;
        }
        s.units.erase(s.units.begin() + (n - 1));
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const auto& f : s.flags) out << '#' << f << '\n';
        for (const auto& u : s.units) out << u << ' ';
        out << '\n';
        std::cout << "stand-in removed NAL unit " << n << " from " << path << '\n';
        return 0;
    }
    return 2;
}
