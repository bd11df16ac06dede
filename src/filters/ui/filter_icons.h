#pragma once

#include <QIcon>

namespace quorvel {

// The 16 by 16 icons of the Filters dialog's buttons, drawn at 1x and 2x.
QIcon AddFilterIcon();     // "&Add filter..."
QIcon RemoveFilterIcon();  // "&Remove filter"
QIcon ClearFiltersIcon();  // "&Clear filters"

}  // namespace quorvel
