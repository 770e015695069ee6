#pragma once

namespace hostmail {

// The host's own enumeration values, as the callers pass them.
enum DefaultFolder { olFolderCalendar = 9, olFolderContacts = 10, olFolderNotes = 12 };
enum ItemType { olMailItem = 0, olTaskItem = 3 };
enum SaveAsType { olTXT = 0, olVCard = 6, olICal = 8 };
enum BodyFormat { olFormatPlain = 1, olFormatHTML = 2 };
enum Importance { olImportanceLow = 0, olImportanceNormal = 1, olImportanceHigh = 2 };
enum RecurrenceType { olRecursDaily = 0, olRecursWeekly = 1, olRecursMonthly = 2 };

} // namespace hostmail
