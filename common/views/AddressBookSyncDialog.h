#pragma once

#include "hostmail/model/ApplicationFactory.h"

class QWidget;

namespace common {

class Prompter;

// Before a run that reads the contacts: with an address book server set, the
// contacts are synced first, off the window's thread, with progress and
// Cancel. A sync that fails or is cancelled asks whether to go on with the
// contacts already here. Returns whether the run goes on.
bool syncContactsBeforeRun(QWidget *parent, const hostmail::ApplicationFactory &openHost, Prompter &prompter);

// After a run that wrote contacts: their changes go to the address book server
// at once; when they cannot, the user is told they go at the next sync.
void syncContactsAfterRun(QWidget *parent, const hostmail::ApplicationFactory &openHost, Prompter &prompter);

} // namespace common
