// A small tmpfs of its own, for filling a disk up in a test (needs the right to mount).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <vector>

namespace quillon::test {

class SmallDisk {
public:
    explicit SmallDisk(std::size_t bytes) {
        char dir[] = "/tmp/quillon-disk-XXXXXX";
        if (::mkdtemp(dir) == nullptr) {
            return;
        }
        m_path = dir;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        m_bMounted = ::mount("tmpfs", dir, "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (m_bMounted) {
            ::umount2(m_path.c_str(), MNT_DETACH);
        }
        if (!m_path.empty()) {
            std::filesystem::remove_all(m_path);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    /// False where mounting is not allowed: the test is then skipped.
    [[nodiscard]] bool IsMounted() const { return m_bMounted; }
    [[nodiscard]] std::string File(const std::string& name) const { return m_path + "/" + name; }
    /// Takes all the room that is left but `spare` bytes, with a file named "filler".
    void Fill(std::size_t spare) const {
        const auto space = std::filesystem::space(m_path);
        std::ofstream(File("filler"), std::ios::binary)
            << std::string(space.available > spare ? space.available - spare : 0, 'f');
    }
    /// The names in the folder, sorted.
    [[nodiscard]] std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
    bool m_bMounted = false;
};

} // namespace quillon::test
