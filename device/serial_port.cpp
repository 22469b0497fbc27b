// CSerialPort on POSIX termios: non-blocking fd, exclusive by flock and TIOCEXCL.
#include "device/serial_port.h"

#include "device/port_list.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quillon {

namespace {

speed_t SpeedFor(int nBaud) {
    switch (nBaud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

bool ConfigureLine(int fd, int nBaud) {
    const speed_t speed = SpeedFor(nBaud);
    if (speed == B0) {
        return false;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    // 8 data bits, no parity, one stop bit, no flow control: the analyzer's line.
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        return false;
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

CSerialPort::~CSerialPort() {
    Close();
}

int CSerialPort::Open(int nPort, int nBaud) {
    if (m_bOpen == 1) {
        return 1;
    }
    const std::string path = DeviceForNumber(ReadPortList(), nPort);
    if (path.empty()) {
        m_nOpenError = ENOENT;
        m_strOpenDevice = "COM" + std::to_string(nPort);
        return 0;
    }
    return OpenPath(path, nBaud);
}

int CSerialPort::OpenPath(const std::string& path, int nBaud) {
    if (m_bOpen == 1) {
        return 1;
    }
    m_strOpenDevice = path;
    // Opening a FIFO would block or feed its reader; look before opening.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        m_nOpenError = errno;
        return 0;
    }
    if (!S_ISCHR(info.st_mode)) {
        m_nOpenError = ENOTTY;
        errno = ENOTTY;
        return 0;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_nOpenError = errno;
        return 0;
    }
    // flock holds even against root, whom TIOCEXCL lets through. Who fails here touches
    // nothing: the exclusive mode belongs to the program that holds the port.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !::isatty(fd)) {
        m_nOpenError = errno;
        ::close(fd);
        errno = m_nOpenError;
        return 0;
    }
    int alreadyExclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &alreadyExclusive) != 0) {
        alreadyExclusive = 0;
    }
    const bool setExclusive = alreadyExclusive == 0;
    if ((setExclusive && ::ioctl(fd, TIOCEXCL) != 0) || !ConfigureLine(fd, nBaud)) {
        m_nOpenError = errno;
        if (setExclusive) {
            ::ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        errno = m_nOpenError;
        return 0;
    }
    m_nOpenError = 0;
    m_strOpenDevice.clear();
    m_hComm = fd;
    m_bOpen = 1;
    m_bHungUp = false;
    m_bWriteStalled = false;
    m_bSetExclusive = setExclusive;
    m_strPath = path;
    return 1;
}

int CSerialPort::Close() {
    if (m_bOpen == 0 || m_hComm < 0) {
        return 1;
    }
    // A pseudo-terminal keeps TIOCEXCL after close; clear it so the port can be opened again.
    if (m_bSetExclusive) {
        ::ioctl(m_hComm, TIOCNXCL);
    }
    ::flock(m_hComm, LOCK_UN);
    ::close(m_hComm);
    m_hComm = -1;
    m_bOpen = 0;
    m_bHungUp = false;
    m_bWriteStalled = false;
    m_bSetExclusive = false;
    m_strPath.clear();
    return 1;
}

bool CSerialPort::WriteByteUntil(char ch, std::chrono::steady_clock::time_point deadline) {
    if (m_hComm < 0 || m_bHungUp) {
        return false;
    }
    for (;;) {
        const ssize_t n = ::write(m_hComm, &ch, 1);
        if (n == 1) {
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (errno == EIO) {
                m_bHungUp = true;
            }
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false; // the line did not take it in time
        }
        pollfd pfd{m_hComm, POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        if ((pfd.revents & (POLLHUP | POLLERR)) != 0 && (pfd.revents & POLLOUT) == 0) {
            m_bHungUp = true;
            return false;
        }
    }
}

int CSerialPort::WriteByte(char ch) {
    WriteByteUntil(ch, std::chrono::steady_clock::now() + kWriteByteWait);
    return 1;
}

int CSerialPort::Write(const char* data, int length) {
    if (m_bOpen == 0 || m_hComm < 0 || length <= 0) {
        return 0;
    }
    // One bound for the whole command: an analyzer that stopped reading costs one wait.
    const auto deadline = std::chrono::steady_clock::now() + kWriteWait;
    int written = 0;
    while (written < length && WriteByteUntil(data[written], deadline)) {
        ++written;
    }
    m_bWriteStalled = written < length && !m_bHungUp;
    return written;
}

int CSerialPort::InQueue() {
    if (m_bOpen == 0 || m_hComm < 0 || m_bHungUp) {
        return 0;
    }
    int waiting = 0;
    if (::ioctl(m_hComm, FIONREAD, &waiting) != 0) {
        if (errno == EIO) {
            m_bHungUp = true;
        }
        return 0;
    }
    if (waiting == 0) {
        // A hung-up pseudo-terminal may still answer FIONREAD; poll tells.
        pollfd pfd{m_hComm, POLLIN, 0};
        if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLHUP) != 0) {
            m_bHungUp = true;
        }
    }
    return waiting;
}

int CSerialPort::Read(void* buffer, int max) {
    if (m_bOpen == 0 || m_hComm < 0 || max <= 0) {
        return 0;
    }
    const int waiting = InQueue();
    if (waiting <= 0) {
        return 0;
    }
    const int wanted = waiting < max ? waiting : max;
    auto* out = static_cast<char*>(buffer);
    int got = 0;
    // The bytes were counted as waiting, so this wait is short; it is bounded in total anyway.
    const auto deadline = std::chrono::steady_clock::now() + kReadWait;
    while (got < wanted) {
        const ssize_t n = ::read(m_hComm, out + got, static_cast<size_t>(wanted - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n == 0) {
            m_bHungUp = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            if (errno == EIO) {
                m_bHungUp = true;
            }
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{m_hComm, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
    }
    return got;
}

int CSerialPort::Drain() {
    unsigned char scratch[256];
    int total = 0;
    // Bounded, so an analyzer that never stops sending cannot hold us here.
    constexpr int kDrainLimit = 64 * 1024;
    for (int n = Read(scratch, static_cast<int>(sizeof scratch)); n > 0 && total < kDrainLimit;
         n = Read(scratch, static_cast<int>(sizeof scratch))) {
        total += n;
    }
    return total;
}

} // namespace quillon
