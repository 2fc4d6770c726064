// SPDX-License-Identifier: MIT
#include "server/qt/LocalListener.h"

#include "server/LocalServer.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelvor {
namespace {

bool fillAddress(const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

/** True when a program accepts connections at the socket file. */
bool answers(const sockaddr_un& address)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0)
        return false;
    const int result =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    // EAGAIN: its queue is full, so somebody listens.
    const bool answered = result == 0 || errno == EAGAIN;
    ::close(probe);
    return answered;
}

/** The user at the other end of a Unix socket. */
bool peerUser(int fd, uid_t& user)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    user = credentials.uid;
    return true;
}

} // namespace

LocalListener::LocalListener(QObject* parent)
    : QObject(parent), ForwardedConnections(this), m_owner(::getuid())
{}

LocalListener::~LocalListener()
{
    close();
}

LocalListener::OpenResult LocalListener::open(const std::string& path)
{
    close();
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        m_lastError = "the path is too long for a socket";
        return OpenResult::Failed;
    }
    struct stat found = {};
    if (::lstat(path.c_str(), &found) == 0) {
        if (!S_ISSOCK(found.st_mode)) {
            m_lastError = "a file that is no socket is in the way";
            return OpenResult::Failed;
        }
        if (answers(address))
            return OpenResult::InUse;
        // Left by a Zelvor that was killed: nobody answers on it.
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_lastError = std::strerror(errno);
        return OpenResult::Failed;
    }
    // The file is made with mode 0600 from the start, never readable by others for a moment.
    const mode_t previous = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previous);
    if (bound != 0 || ::listen(fd, 16) != 0) {
        const int error = bound != 0 ? bindError : errno;
        m_lastError = std::strerror(error);
        ::close(fd);
        if (bound == 0)
            ::unlink(path.c_str());
        return error == EADDRINUSE ? OpenResult::InUse : OpenResult::Failed;
    }
    struct stat made = {};
    ::stat(path.c_str(), &made);
    m_fd = fd;
    m_path = path;
    m_device = made.st_dev;
    m_inode = made.st_ino;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LocalListener::onNewConnections);
    return OpenResult::Listening;
}

void LocalListener::close()
{
    m_connections.closeAll();
    if (m_fd < 0)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    // Another Zelvor may have replaced the file meanwhile: its socket stays.
    struct stat found = {};
    if (::lstat(m_path.c_str(), &found) == 0 && found.st_dev == m_device && found.st_ino == m_inode)
        ::unlink(m_path.c_str());
}

void LocalListener::onNewConnections()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        uid_t user = 0;
        if (!peerUser(fd, user) || user != m_owner) {
            // Not the owner: closed at once, and the door never hears of it.
            ::close(fd);
            continue;
        }
        auto* socket = new QLocalSocket(this);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        m_connections.offer(socket);
    }
}

ConnectionId LocalListener::accept()
{
    QLocalSocket* socket = m_connections.takePending();
    return socket ? m_connections.add(socket) : 0;
}

std::string LocalListener::remoteHostIP(ConnectionId connection) const
{
    return m_connections.find(connection) ? std::string(kLocalAddress) : std::string();
}

} // namespace zelvor
