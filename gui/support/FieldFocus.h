// A refused field shown to the user: every tab page that holds it comes to
// the front before the refusal is told (a field on a page behind another
// cannot be seen), and after it the field takes the focus with its text
// selected, ready to be corrected.
#pragma once

class QWidget;

namespace quorvex::gui {

// Brings each tab page holding `field`, up to its window, to the front.
void RevealField(QWidget* field);

// The focus on the field (already in front), its text selected.
void FocusField(QWidget* field);

}  // namespace quorvex::gui
