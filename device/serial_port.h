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
    static constexpr std::chrono::milliseconds kReadWait{2000};

    CSerialPort() = default;
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    /// Opens COM port nPort, looked up by its name "COMn" in the machine's port list.
    /// Returns 1 when open (also when it already was), 0 on failure (nothing left open).
    int Open(int nPort, int nBaud);
    /// Opens a device node by path with the same settings (command-line --port PATH).
    int OpenPath(const std::string& path, int nBaud);
    /// Always 1; does nothing when closed.
    int Close();
    /// Writes one byte, waiting at most kWriteByteWait for the line to take it. Always 1.
    int WriteByte(char ch);
    /// Writes byte by byte; returns the number of bytes handed to WriteByte (length or 0).
    int Write(const char* data, int length);
    /// Received bytes waiting to be read, without consuming them; 0 when closed or hung up.
    int InQueue();
    /// Reads at most min(max, waiting) bytes; never touches the buffer beyond them.
    int Read(void* buffer, int max);
    /// Reads away whatever is waiting; returns how many bytes were discarded.
    int Drain();

    [[nodiscard]] bool IsOpen() const { return m_bOpen != 0; }
    /// True once the far end has gone (cable pulled, pseudo-terminal closed).
    [[nodiscard]] bool IsHungUp() const { return m_bHungUp; }
    [[nodiscard]] const std::string& DevicePath() const { return m_strPath; }
    /// The device and errno of the last Open or OpenPath that failed (EWOULDBLOCK or EBUSY:
    /// another program holds it); 0 and empty after one that succeeded.
    [[nodiscard]] int LastOpenError() const { return m_nOpenError; }
    [[nodiscard]] const std::string& LastOpenDevice() const { return m_strOpenDevice; }

private:
    int m_hComm = -1; // file descriptor; -1 when closed
    int m_bOpen = 0;
    bool m_bHungUp = false;
    std::string m_strPath;
    int m_nOpenError = 0;
    std::string m_strOpenDevice;
};

} // namespace quillon
