#pragma once

#include <QtGlobal>

namespace hostmail {

// The largest files the host reads. A larger one fails as a step of its own
// (the run skips it) and is never read into memory.
inline constexpr qint64 kMaxContactFileBytes = 20 * 1024 * 1024; // a .vcf file, a calendar file, a note
inline constexpr qint64 kMaxAttachmentBytes = 25 * 1024 * 1024;  // one attached file
inline constexpr qint64 kMaxMessageBytes = 256 * 1024 * 1024;    // a stored message with its attachments

} // namespace hostmail
