#include "tools/analyze/pattern_reader.h"

#include "tools/common/integer_syntax.h"

#include <cerrno>
#include <cstring>

namespace kestrune::analyze {

PatternReader::PatternReader(const std::filesystem::path& path)
{
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) error_ = path.string() + ": " + std::strerror(errno);
}

PatternReader::~PatternReader()
{
    if (file_) std::fclose(file_);
}

int PatternReader::get()
{
    if (pushedBack_ >= 0) {
        const int c = pushedBack_;
        pushedBack_ = -1;
        return c;
    }
    if (ended_ || !file_) return EOF;
    const int c = std::fgetc(file_);
    if (c == EOF || c == 0x1A) {
        ended_ = true;
        return EOF;
    }
    return c;
}

std::optional<std::int32_t> PatternReader::next()
{
    int c = get();
    while (c != EOF && c <= 0x20) c = get();
    if (c == EOF) return 0;
    std::string token;
    while (c != EOF && c > 0x20 && token.size() < 32) {
        token.push_back(static_cast<char>(c));
        c = get();
    }
    if (c != EOF) pushedBack_ = c;
    const auto value = parseInteger(token);
    if (!value) error_ = "\"" + token + "\" is not an integer";
    return value;
}

} // namespace kestrune::analyze
