#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

#include <unistd.h>

// Small pieces of the Linux file layer that the settings file and its lock
// share.
namespace settings::file::posix {

class Descriptor final
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(Descriptor &&other) noexcept
        : m_fd(other.release())
    {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Q_DISABLE_COPY(Descriptor)

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

QString reason(int error);

bool writeAll(int fd, const QByteArray &bytes);

// The folder part of an absolute path ("/" for a name in it), and the name.
QByteArray folderPart(const QByteArray &path);
QByteArray namePart(const QByteArray &path);

// An unnamed file in the folder folder, where the system has them (O_TMPFILE).
int createUnnamed(int folder);

// A name beside the file name that no other file has.
QByteArray freshNameBeside(const QByteArray &name);

// A new file of that fresh name in folder, named in fresh.
Descriptor createNamed(int folder, const QByteArray &name, QByteArray *fresh);

} // namespace settings::file::posix
