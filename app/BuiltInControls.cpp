#include "app/BuiltInControls.h"

#include "control/ControlHost.h"
#include "player/GstPlayerControl.h"

namespace didira {

void RegisterBuiltInControls() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    ControlHost::RegisterClass(QString::fromLatin1(CGstPlayerControl::kClsid),
                               &CGstPlayerControl::Create);
}

} // namespace didira
