#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The name this installation goes by on shared system folders. It is made at the first start
// and kept in the file "zelvo-station" beside the program, with the network hardware of the PC
// it was made on: a disk copied onto another PC (PCs installed from one image) brings the file
// along but not the hardware, and the copy makes an id of its own there. The host name leads the
// id so that people can tell the stations apart.
struct StationIdentity
{
    QString id;
    // Ids this installation held jobs under before: the one an earlier version derived from the
    // host name, the machine's id and the program folder. Their jobs are this station's.
    QStringList previousIds;
};

// The hashed addresses of the PC's network adapters (not virtual ones); empty where there are
// none to read (a container), and the copy is then not told apart.
QByteArray networkHardware();

// Reads the id kept in `programFolder`, making (and keeping) a new one when there is none, when
// it was made on other hardware than `hardware`, or when it cannot be read. A failure to keep it
// is logged; the id holds for this run.
StationIdentity loadStationIdentity(const QString &programFolder,
                                    const QByteArray &hardware = networkHardware());
