#pragma once
// The dialog side's control site: a hosted control's error is shown in one
// stop-icon message box owned by the control's window.

#include "control/ControlSite.h"

namespace didira {

class ControlErrorBox final : public IControlSite {
public:
    void ShowControlError(QWidget* control, const QString& text) override;
};

// The one site shared by every hosted control (it holds no state).
IControlSite& MessageBoxControlSite();

} // namespace didira
