#pragma once

class QWidget;

namespace shell {

// The preferences of the two pages in the settings key.
// restorePreferences applies every stored value to the window's controls in
// the fixed order, as a user's change would (so the controls' handlers run);
// SavePrefs writes the group of the page that is current in SSTab1.
void restorePreferences(QWidget *window);
void SavePrefs(QWidget *window);

} // namespace shell
