// A refused field shown to the user: every tab page that holds it comes to
// the front (a field on a page behind another cannot be seen), and then it
// takes the focus with its text selected, ready to be corrected.
#pragma once

class QWidget;

namespace quorvex::gui {

// Brings each tab page holding `field`, up to its window, to the front.
void RevealField(QWidget* field);

// RevealField, then the focus on the field, its text selected.
void FocusField(QWidget* field);

}  // namespace quorvex::gui
