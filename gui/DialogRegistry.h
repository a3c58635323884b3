// Where every dialog of the window is put into the dialog table. A dialog
// that is not registered here announces itself as not available yet.
#pragma once

#include "gui/support/DialogTable.h"
#include "gui/support/GuiServices.h"

namespace quorvex::gui {

void RegisterDialogs(DialogTable& table, const GuiServices& services);

}  // namespace quorvex::gui
