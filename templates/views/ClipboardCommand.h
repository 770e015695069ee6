#pragma once

class QWidget;

namespace templates {

enum class ClipboardAction { Cut, Copy, Paste };

// Runs the Edit menu's command on the focused control: a text box, a source
// box or a design editor (whose focus sits in a child of the web view).
void clipboardCommand(QWidget *focused, ClipboardAction action);

} // namespace templates
