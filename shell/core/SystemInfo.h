#pragma once

#include <QStringList>

namespace shell {

inline const QString kSystemInfoUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

// System information tools looked for on PATH, in this order.
QStringList systemInfoCandidates();
// The first candidate found on PATH, or empty.
QString findSystemInfoTool(const QStringList &candidates = systemInfoCandidates());

} // namespace shell
