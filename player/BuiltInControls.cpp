#include "player/ControlHost.h"
#include "player/GstPlayerControl.h"

namespace didira {

// Registers the control classes that ship with Didira.
void RegisterBuiltInControls() {
    ControlHost::RegisterClass(QString::fromLatin1(CGstPlayerControl::kClsid),
                               &CGstPlayerControl::Create);
}

} // namespace didira
