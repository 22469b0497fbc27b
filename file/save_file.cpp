// Files replaced whole: a temporary file beside the target, then a rename.
#include "file/save_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

// Writes are gathered into pieces of this size before they reach the system.
constexpr std::size_t kWriteBuffer = std::size_t{1} << 20;
// Tries at a free temporary name before giving up.
constexpr unsigned kTempAttempts = 100;

// Writes all of bytes to fd at its offset; false with errno set when the disk refuses.
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

// ---- StringSink ---------------------------------------------------------------------------

bool StringSink::Write(std::string_view bytes) {
    if (m_pos == m_bytes.size()) {
        m_bytes.append(bytes);
    } else {
        const std::size_t over = std::min(bytes.size(), m_bytes.size() - m_pos);
        m_bytes.replace(m_pos, over, bytes.substr(0, over));
        m_bytes.append(bytes.substr(over));
    }
    m_pos += bytes.size();
    return true;
}

bool StringSink::Seek(std::uint64_t offset) {
    if (offset > m_bytes.size()) {
        return false;
    }
    m_pos = static_cast<std::size_t>(offset);
    return true;
}

// ---- SaveFile -----------------------------------------------------------------------------

SaveFile::SaveFile(std::string path) : m_path(std::move(path)) {}

SaveFile::~SaveFile() {
    Discard();
}

bool SaveFile::Fail(int code) {
    if (m_error.empty()) {
        m_error = std::strerror(code != 0 ? code : EIO);
    }
    return false;
}

void SaveFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

bool SaveFile::Open() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Through a symbolic link to the file it names, which is what gets replaced.
    fs::path target = fs::path(m_path);
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) {
            target = resolved;
        }
    }
    m_target = target.string();
    struct stat existing {};
    const bool exists = ::stat(m_target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return Fail(EISDIR);
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or pipe named as the output (e.g. /dev/stdout) is written as it is.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return m_fd >= 0 || Fail(errno);
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string at -O3.
    std::string prefix = ".";
    prefix += target.filename().string();
    prefix += ".part-";
    prefix += std::to_string(::getpid());
    prefix += '-';
    for (unsigned attempt = 0; m_fd < 0 && attempt < kTempAttempts; ++attempt) {
        m_temp = (dir / (prefix + std::to_string(attempt))).string();
        m_fd = ::open(m_temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) {
            m_temp.clear();
            return Fail(errno);
        }
    }
    if (m_fd < 0) {
        m_temp.clear();
        return Fail(EEXIST);
    }
    if (exists) {
        ::fchmod(m_fd, existing.st_mode & 07777); // the replaced file's permissions stay
    }
    m_buffer.reserve(kWriteBuffer);
    return true;
}

bool SaveFile::Flush() {
    if (m_buffer.empty()) {
        return true;
    }
    if (!WriteAll(m_fd, m_buffer)) {
        return Fail(errno);
    }
    m_flushed += m_buffer.size();
    m_buffer.clear();
    return true;
}

bool SaveFile::Write(std::string_view bytes) {
    if (m_fd < 0 || !m_error.empty()) {
        return Fail(EBADF);
    }
    m_pos += bytes.size();
    if (m_buffer.size() + bytes.size() <= kWriteBuffer) {
        m_buffer.append(bytes);
        return true;
    }
    if (!Flush()) {
        return false;
    }
    if (bytes.size() >= kWriteBuffer) {
        if (!WriteAll(m_fd, bytes)) {
            return Fail(errno);
        }
        m_flushed += bytes.size();
        return true;
    }
    m_buffer.append(bytes);
    return true;
}

bool SaveFile::Seek(std::uint64_t offset) {
    if (m_fd < 0 || m_temp.empty() || !m_error.empty()) {
        return Fail(ESPIPE);
    }
    if (!Flush()) {
        return false;
    }
    if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        return Fail(errno);
    }
    m_flushed = offset;
    m_pos = offset;
    return true;
}

bool SaveFile::Commit() {
    if (m_fd < 0 || !m_error.empty()) {
        Discard();
        return Fail(EBADF);
    }
    const bool written = Flush() && (m_temp.empty() || ::fsync(m_fd) == 0 || Fail(errno));
    // A full disk may only show when the file is closed.
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && written) {
        Fail(errno);
    }
    if (!m_error.empty()) {
        Discard();
        return false;
    }
    if (m_temp.empty()) {
        return true; // a device, written directly
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        Fail(errno);
        Discard();
        return false;
    }
    m_temp.clear();
    // The rename itself reaches the disk with the folder.
    const std::filesystem::path target(m_target);
    const std::string dir = target.has_parent_path() ? target.parent_path().string() : ".";
    if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error) {
    SaveFile file(path);
    if (!file.Open() || !file.Write(bytes) || !file.Commit()) {
        error = file.Error();
        return false;
    }
    error.clear();
    return true;
}

} // namespace quillon
