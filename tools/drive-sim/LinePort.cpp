#include "LinePort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
bool makeRaw(int fd)
{
    termios tio {};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1; // with O_NONBLOCK: EAGAIN when empty, 0 only on hang-up
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string systemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}
} // namespace

LinePort::~LinePort()
{
    close();
}

bool LinePort::openPty(const std::string &linkPath, std::string &error)
{
    close();
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = systemError("openpty");
        return false;
    }
    // Without raw mode the slave would echo our replies back to us as commands.
    if (!makeRaw(slave)) {
        error = systemError("termios");
        ::close(master);
        ::close(slave);
        return false;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_fd = master;
    // Holding the slave open keeps the master from reporting a hang-up whenever the
    // console closes its port.
    m_slave = slave;
    m_path = name;
    m_link = linkPath;
    if (!m_link.empty() && !makeLink(error)) {
        m_link.clear();
        close();
        return false;
    }
    return true;
}

bool LinePort::openDevice(const std::string &devicePath, std::string &error)
{
    close();
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError(devicePath);
        return false;
    }
    if (!makeRaw(fd)) {
        error = systemError(devicePath + ": termios");
        ::close(fd);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    m_path = devicePath;
    return true;
}

bool LinePort::makeLink(std::string &error)
{
    struct stat info;
    if (lstat(m_link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = m_link + ": exists and is not a symbolic link";
        return false;
    }
    // Replace any old link in one step, so the console never finds the path missing.
    const std::string temporary = m_link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(m_path.c_str(), temporary.c_str()) != 0
        || ::rename(temporary.c_str(), m_link.c_str()) != 0) {
        error = systemError(m_link);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void LinePort::close()
{
    if (!m_link.empty()) {
        char target[512] = {};
        const ssize_t length = ::readlink(m_link.c_str(), target, sizeof target - 1);
        // Only remove the link if it still points at our line.
        if (length > 0 && m_path == std::string(target, static_cast<std::size_t>(length)))
            ::unlink(m_link.c_str());
    }
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_slave >= 0)
        ::close(m_slave);
    m_fd = -1;
    m_slave = -1;
}
