// The keyboard order of a dialog: Tab walks its controls in the order its
// layouts show them (rows top to bottom, each row left to right, a group
// box or a column of buttons whole), whatever order the code made them in.
#pragma once

class QWidget;

namespace quorvex::gui {

// Sets the focus chain of every control in `root`'s layouts to their
// reading order, the pages of a tab widget each after its tab bar. Multi-
// line text fields and lists pass Tab on (arrow keys move inside them), so
// Tab always walks the whole chain. The control that had the first place
// keeps the focus the dialog opens with. Call it once the dialog is built.
void SetTabOrderFromLayout(QWidget* root);

}  // namespace quorvex::gui
