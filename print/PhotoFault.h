#pragma once

#include <QString>

// Why a photo cannot be printed, as the operator is told.
enum class PhotoFault {
    None,
    Missing, // no file by its name (or a hidden one)
    Unreadable, // empty, cut short, corrupt, or not a JPEG the station decodes
    TooLarge, // refused for its size before it is decoded
};

// The fault an imaging error stands for (IgNoFile, IgTooLarge, anything else unreadable).
PhotoFault photoFaultOf(int igError);
// "não encontrada", "ilegível", "grande demais".
QString photoFaultText(PhotoFault fault);
// The same for the log: "missing", "unreadable", "too large".
const char *photoFaultLogText(PhotoFault fault);
// Why the photo at `path`, found unreadable, is so, from its size and header alone: the
// viewer's cheap guess for a photo whose load failed elsewhere.
PhotoFault diagnosePhoto(const QString &path);
