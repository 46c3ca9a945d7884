#include "ui/ControlErrorBox.h"

#include "ui/MessageBox.h"

#include <QWidget>

namespace didira {

void ControlErrorBox::ShowControlError(QWidget* control, const QString& text) {
    ShowMessageBox(control ? control->window() : nullptr, text, QString(), MbIcon::Stop);
}

IControlSite& MessageBoxControlSite() {
    static ControlErrorBox site;
    return site;
}

} // namespace didira
