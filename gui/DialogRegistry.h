// Where the real dialog of every kind is put into the dialog table.
#pragma once

#include "gui/support/DialogTable.h"
#include "gui/support/GuiServices.h"

namespace quorvex::gui {

void RegisterDialogs(DialogTable& table, const GuiServices& services);

}  // namespace quorvex::gui
