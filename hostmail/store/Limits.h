#pragma once

#include <QtGlobal>

namespace hostmail {

// The largest files the host reads. A larger one fails as a step of its own
// (the run skips it) and is never read into memory.
inline constexpr qint64 kMaxContactFileBytes = 20 * 1024 * 1024; // a calendar file, a note, the delivery state
// A .vcf file: a whole address book exported as one file, photos included,
// runs to tens of megabytes.
inline constexpr qint64 kMaxAddressBookBytes = 128 * 1024 * 1024;
inline constexpr qint64 kMaxAttachmentBytes = 25 * 1024 * 1024; // one attached file
inline constexpr qint64 kMaxMessageBytes = 256 * 1024 * 1024;   // a stored message with its attachments

} // namespace hostmail
