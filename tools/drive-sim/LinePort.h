#pragma once

#include <string>

// The simulator's end of the serial line: the master side of a pseudo-terminal (with an
// optional symbolic link to its slave), or a real serial device at 38400 8N1. The file
// descriptor is non-blocking.
class LinePort final {
public:
    LinePort() = default;
    ~LinePort();
    LinePort(const LinePort &) = delete;
    LinePort &operator=(const LinePort &) = delete;

    bool openPty(const std::string &linkPath, std::string &error);
    bool openDevice(const std::string &devicePath, std::string &error);
    // Closes the line; the symbolic link goes with it, as a vanished adapter's node does.
    void close();

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // What the console opens: the pseudo-terminal's slave or the device.
    const std::string &path() const { return m_path; }

private:
    bool makeLink(std::string &error);

    int m_fd = -1;
    int m_slave = -1;
    std::string m_path;
    std::string m_link;
};
