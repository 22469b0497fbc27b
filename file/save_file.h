// The one save path of every file the program writes (captures, pictures, annotations): the
// bytes go into a new file beside the target, are flushed to the disk and renamed over the
// target only when whole, so a full disk or a crash never leaves a half-written file behind.
// No toolkit; any thread, one thread per object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

/// Where a writer puts its bytes. Seek and Tell serve writers that go back to fill in a size
/// (the zip archive of a sigrok session file); a sink that cannot seek says no.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    /// False when the bytes could not be written (the sink keeps the reason).
    virtual bool Write(std::string_view bytes) = 0;
    /// The next write goes to offset (at most the size written so far).
    virtual bool Seek(std::uint64_t offset) = 0;
    [[nodiscard]] virtual std::uint64_t Tell() const = 0;
};

/// A sink in memory.
class StringSink : public ByteSink {
public:
    bool Write(std::string_view bytes) override;
    bool Seek(std::uint64_t offset) override;
    [[nodiscard]] std::uint64_t Tell() const override { return m_pos; }
    [[nodiscard]] const std::string& Bytes() const { return m_bytes; }
    std::string Take() { return std::move(m_bytes); }

private:
    std::string m_bytes;
    std::size_t m_pos = 0;
};

/// A file written through a temporary file beside it. Open, Write (buffered), then Commit;
/// a SaveFile destroyed without Commit leaves the old file as it was and nothing else behind.
/// A symbolic link is followed (the file it names is replaced, the link stays), the replaced
/// file's permissions stay, and a device or pipe (e.g. /dev/stdout) is written directly.
class SaveFile : public ByteSink {
public:
    explicit SaveFile(std::string path);
    ~SaveFile() override;
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    /// Creates the temporary file; false with Error() set when that is not possible.
    bool Open();
    bool Write(std::string_view bytes) override;
    /// Only for a regular file (not a device written directly).
    bool Seek(std::uint64_t offset) override;
    [[nodiscard]] std::uint64_t Tell() const override { return m_pos; }
    /// Flushes, syncs and renames the new file over the target. False with Error() set on
    /// failure; the old file is then untouched.
    bool Commit();
    /// The system's reason for the first failure, e.g. "No space left on device".
    [[nodiscard]] const std::string& Error() const { return m_error; }

private:
    bool Flush();
    bool Fail(int code);
    void Discard();

    std::string m_path;
    std::string m_target; ///< m_path with a symbolic link resolved
    std::string m_temp;   ///< empty when writing the target directly
    int m_fd = -1;
    std::string m_buffer;
    std::uint64_t m_pos = 0;     ///< logical position of the next write
    std::uint64_t m_flushed = 0; ///< file offset where m_buffer starts
    std::string m_error;
};

/// Writes bytes to path through a SaveFile. False with error set (the system's reason) on
/// failure; the old file is then as it was.
bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error);

} // namespace quillon
