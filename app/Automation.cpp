#include "app/Automation.h"

#include "app/VavarozApp.h"

namespace didira {

void RunAutomationStep(CVavarozApp&) {}

} // namespace didira
