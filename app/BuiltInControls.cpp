#include "app/BuiltInControls.h"

#include "control/ControlHost.h"
#include "player/GstPlayerControl.h"
#include "res/Resources.h"

namespace didira {

void RegisterBuiltInControls() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    ControlHost::RegisterClass(QString::fromLatin1(kMediaPlayerClsid),
                               &CGstPlayerControl::Create);
}

} // namespace didira
