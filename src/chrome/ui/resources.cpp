#include "chrome/ui/resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE names a function in the global namespace.
static void InitQuorvelResources() { Q_INIT_RESOURCE(quorvel); }

namespace quorvel {

void InitResources() {
  static const bool done = (InitQuorvelResources(), true);
  (void)done;
}

}  // namespace quorvel
