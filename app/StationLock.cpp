#include "StationLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

StationLock::StationLock(const QString &folder)
    : folder(folder)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/zelvo.lock"));
    // Group-writable, so that every operator of a shared station folder can lock it later.
    fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lockState = State::Held;
        return;
    }
    const int error = errno;
    lockState = fd >= 0 && error == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
    reason = QString::fromLocal8Bit(std::strerror(error));
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

StationLock::~StationLock()
{
    if (fd >= 0)
        ::close(fd);
}

QString StationLock::refusalText() const
{
    switch (lockState) {
    case State::Held:
        return {};
    case State::HeldElsewhere:
        return QStringLiteral("O Zelvo já está aberto a partir da pasta %1, talvez em outra "
                              "sessão deste computador. Só uma estação pode funcionar por vez "
                              "a partir da mesma pasta: use a que já está aberta.")
            .arg(folder);
    case State::Unavailable:
        break;
    }
    return QStringLiteral("O Zelvo não pode gravar na pasta %1, onde ficam as configurações, o "
                          "registro e os pedidos. Peça ao responsável pelo computador acesso "
                          "de escrita a essa pasta; no Zelvo instalado, basta incluir este "
                          "usuário no grupo zelvo e entrar de novo no sistema.")
        .arg(folder);
}

QString StationLock::refusalLogLine() const
{
    switch (lockState) {
    case State::Held:
        return {};
    case State::HeldElsewhere:
        return QStringLiteral("Start refused: another station is running from '%1'").arg(folder);
    case State::Unavailable:
        break;
    }
    return QStringLiteral("Start refused: cannot lock '%1/zelvo.lock': %2").arg(folder, reason);
}
