// Replacing an output: through symbolic links, keeping permission bits, and
// writing devices, FIFOs and sockets in place instead of replacing them.
#include "tools/common/atomic_output.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class AtomicOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kestrune-atomic-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void writeText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static bool replace(const fs::path& destination, const std::string& text)
    {
        kestrune::AtomicOutput out(destination);
        return out.write(text.data(), text.size()) && out.commit();
    }
    std::size_t entryCount() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    static mode_t modeOf(const fs::path& path)
    {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st.st_mode;
    }

    fs::path dir;
};

TEST_F(AtomicOutputTest, ReplacesTheFileALinkNamesKeepingLinkAndPermissions)
{
    // A private file behind a chain of two links, one relative and one absolute.
    writeText(dir / "real.264", "old");
    ASSERT_EQ(::chmod((dir / "real.264").c_str(), 0640), 0);
    fs::create_directory(dir / "sub");
    fs::create_symlink("../real.264", dir / "sub" / "near.264");
    fs::create_symlink(dir / "sub" / "near.264", dir / "far.264");
    // A link to a file that does not exist yet, and a plain file made executable.
    fs::create_symlink("later.264", dir / "dangling.264");
    writeText(dir / "script", "old");
    ASSERT_EQ(::chmod((dir / "script").c_str(), 0751), 0);

    ASSERT_TRUE(replace(dir / "far.264", "new"));
    ASSERT_TRUE(replace(dir / "dangling.264", "created"));
    ASSERT_TRUE(replace(dir / "script", "replaced"));

    EXPECT_TRUE(fs::is_symlink(dir / "far.264"));
    EXPECT_TRUE(fs::is_symlink(dir / "sub" / "near.264"));
    EXPECT_EQ(read(dir / "real.264"), "new");
    EXPECT_EQ(modeOf(dir / "real.264") & 07777, 0640u);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.264"));
    EXPECT_EQ(read(dir / "later.264"), "created");
    EXPECT_EQ(modeOf(dir / "script") & 07777, 0751u);
    EXPECT_EQ(read(dir / "script"), "replaced");
    EXPECT_EQ(entryCount(), 6u) << "no temporary file is left";
}

TEST_F(AtomicOutputTest, NonRegularTargetsAreWrittenInPlaceNeverReplaced)
{
    // A FIFO with a reader: the bytes arrive through it and it stays a FIFO.
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(replace(fifo, "through the pipe"));
    char buffer[64] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 16);
    EXPECT_STREQ(buffer, "through the pipe");
    ::close(reader);
    EXPECT_TRUE(S_ISFIFO(modeOf(fifo)));

    // A socket cannot be opened for writing: the output fails and the socket stays.
    const fs::path socketPath = dir / "socket";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    {
        kestrune::AtomicOutput out(socketPath);
        EXPECT_FALSE(out.ok());
        EXPECT_FALSE(out.commit());
    }
    ::close(listener);
    EXPECT_TRUE(S_ISSOCK(modeOf(socketPath)));

    // A null device made here (where the system allows it) swallows the bytes and stays a device.
    const fs::path device = dir / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
        EXPECT_TRUE(replace(device, "gone"));
        EXPECT_TRUE(S_ISCHR(modeOf(device)));
    }
    EXPECT_EQ(entryCount(), fs::exists(device) ? 3u : 2u) << "no temporary file is left";
}

} // namespace
