// The one save path: a file is replaced whole or not at all, a link still leads to it, its
// permissions stay, a writer may go back to fill in a size, and failures say why.
#include "file/save_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace quillon;

namespace {

class SaveFileTest : public ::testing::Test {
protected:
    std::filesystem::path m_dir =
        std::filesystem::temp_directory_path() / ("quillon-save-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    [[nodiscard]] std::ptrdiff_t Entries() const {
        return std::distance(std::filesystem::directory_iterator(m_dir),
                             std::filesystem::directory_iterator());
    }
};

TEST_F(SaveFileTest, WritesAllBytesAndReplacesLongerContent) {
    const auto path = m_dir / "out.bin";
    std::string error = "stale";
    ASSERT_TRUE(WriteWholeFile(path.string(), "a much longer text than the next one", error));
    const std::string bytes("\x89PNG\0\r\n", 7);
    ASSERT_TRUE(WriteWholeFile(path.string(), bytes, error));
    EXPECT_EQ(Read(path), bytes);
    EXPECT_TRUE(error.empty());
}

// The file is replaced whole by a renamed new one: its permissions stay, a link still leads
// to it, and nothing else is left in the folder.
TEST_F(SaveFileTest, ReplacesTheFileALinkNamesAndKeepsItsPermissions) {
    const auto path = m_dir / "out.csv";
    std::string error;
    ASSERT_TRUE(WriteWholeFile(path.string(), "old", error));
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    std::filesystem::create_symlink(path, m_dir / "link.csv");
    ASSERT_TRUE(WriteWholeFile((m_dir / "link.csv").string(), "new", error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(m_dir / "link.csv"));
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(Entries(), 2);
}

// Streamed in pieces larger and smaller than its buffer, with a size filled in afterwards; the
// old file stays as it was until the commit, and a file never committed leaves nothing.
TEST_F(SaveFileTest, StreamsSeeksAndCommitsOrLeavesNothing) {
    const auto path = m_dir / "out.sr";
    std::string error;
    ASSERT_TRUE(WriteWholeFile(path.string(), "old", error));
    const std::string big(3 << 20, 'b');
    {
        SaveFile file(path.string());
        ASSERT_TRUE(file.Open());
        ASSERT_TRUE(file.Write("size=????\n"));
        ASSERT_TRUE(file.Write(big));
        ASSERT_TRUE(file.Write("end"));
        EXPECT_EQ(file.Tell(), 10 + big.size() + 3);
        ASSERT_TRUE(file.Seek(5));
        ASSERT_TRUE(file.Write("1234"));
        EXPECT_EQ(Read(path), "old");
        ASSERT_TRUE(file.Commit()) << file.Error();
    }
    EXPECT_EQ(Read(path), "size=1234\n" + big + "end");
    {
        SaveFile file(path.string());
        ASSERT_TRUE(file.Open());
        ASSERT_TRUE(file.Write("never committed"));
    }
    EXPECT_EQ(Read(path), "size=1234\n" + big + "end");
    EXPECT_EQ(Entries(), 1);
}

TEST_F(SaveFileTest, ReportsTheReason) {
    std::string error;
    EXPECT_FALSE(WriteWholeFile((m_dir / "missing" / "x.vcd").string(), "x", error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(WriteWholeFile(m_dir.string(), "x", error));
    EXPECT_EQ(error, "Is a directory");
    if (::access("/dev/full", W_OK) == 0) {
        // The disk fills up: the error shows when the data is flushed.
        EXPECT_FALSE(WriteWholeFile("/dev/full", std::string(1 << 16, 'x'), error));
        EXPECT_EQ(error, "No space left on device");
        // A device cannot go back to fill in a size.
        SaveFile device("/dev/full");
        ASSERT_TRUE(device.Open());
        EXPECT_FALSE(device.Seek(0));
        EXPECT_FALSE(device.Error().empty());
    }
}

TEST(StringSinkTest, OverwritesAfterASeek) {
    StringSink sink;
    sink.Write("abcdef");
    ASSERT_TRUE(sink.Seek(2));
    sink.Write("XYZWV");
    EXPECT_EQ(sink.Bytes(), "abXYZWV");
    EXPECT_FALSE(sink.Seek(100));
}

} // namespace
