// CSerialPort: the analyzer's serial line on a POSIX tty, raw 8N1, held exclusively.
#pragma once

#include <chrono>
#include <string>

namespace quillon {

/// One serial port, open or closed. Results are 1/0 or byte counts; nothing is reported.
/// Used by one thread at a time; Close must not overlap Write, Read or InQueue.
class CSerialPort {
public:
    static constexpr int kAnalyzerBaud = 921600;
    static constexpr std::chrono::milliseconds kWriteByteWait{1000};
    /// The most one Write (one command) may take: a line that stops taking bytes costs this
    /// once, not once per byte.
    static constexpr std::chrono::milliseconds kWriteWait{1000};
    static constexpr std::chrono::milliseconds kReadWait{2000};

    CSerialPort() = default;
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    /// Opens COM port nPort: the first entry of the machine's port list whose name gives n
    /// by PortNumberFromName ("COM03" and "COM1COM2" name 3 and 12). Returns 1 when open
    /// (also when it already was), 0 on failure (nothing left open).
    int Open(int nPort, int nBaud);
    /// Opens a character device by path with the same settings (command-line --port PATH).
    /// Anything else (a FIFO, a directory, a regular file) is not opened at all.
    int OpenPath(const std::string& path, int nBaud);
    /// Always 1; does nothing when closed. Ends the hung-up and stalled states.
    int Close();
    /// Writes one byte, waiting at most kWriteByteWait for the line to take it. Always 1.
    int WriteByte(char ch);
    /// Writes byte by byte, all of them within kWriteWait; returns the number of bytes the
    /// line took (length when all went out, 0 when closed or hung up).
    int Write(const char* data, int length);
    /// Received bytes waiting to be read, without consuming them; 0 when closed or hung up.
    int InQueue();
    /// Reads at most min(max, waiting) bytes; never touches the buffer beyond them.
    int Read(void* buffer, int max);
    /// Reads away whatever is waiting; returns how many bytes were discarded.
    int Drain();

    [[nodiscard]] bool IsOpen() const { return m_bOpen != 0; }
    /// True once the far end of the open port has gone (cable pulled, pseudo-terminal closed).
    [[nodiscard]] bool IsHungUp() const { return m_bOpen != 0 && m_bHungUp; }
    /// True when the last Write could not hand all its bytes to the line in time.
    [[nodiscard]] bool IsWriteStalled() const { return m_bOpen != 0 && m_bWriteStalled; }
    [[nodiscard]] const std::string& DevicePath() const { return m_strPath; }
    /// The device and errno of the last Open or OpenPath that failed (EWOULDBLOCK or EBUSY:
    /// another program holds it); 0 and empty after one that succeeded.
    [[nodiscard]] int LastOpenError() const { return m_nOpenError; }
    [[nodiscard]] const std::string& LastOpenDevice() const { return m_strOpenDevice; }

private:
    /// One byte, waiting for the line until deadline; false when it was not taken.
    bool WriteByteUntil(char ch, std::chrono::steady_clock::time_point deadline);

    int m_hComm = -1; // file descriptor; -1 when closed
    int m_bOpen = 0;
    bool m_bHungUp = false;
    bool m_bWriteStalled = false;
    bool m_bSetExclusive = false; ///< this object set TIOCEXCL and clears it on closing
    std::string m_strPath;
    int m_nOpenError = 0;
    std::string m_strOpenDevice;
};

} // namespace quillon
