#include "ui/AboutDialog.h"

#include "ui/DialogLayout.h"

#include <QPushButton>

namespace didira {

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    const DialogTemplate& tpl = GetDialogTemplate(IDD_ABOUTBOX);
    setWindowTitle(tpl.caption);
    setFont(DialogFont(tpl));
    const QSize base = DialogBaseUnits(font());
    setFixedSize(MapDialogRect(QRect(QPoint(0, 0), tpl.size), base).size());
    const auto controls = CreateTemplateControls(tpl, this, base);
    if (auto* ok = qobject_cast<QPushButton*>(controls.value(IDOK))) {
        ok->setAutoDefault(true);
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        ok->setFocus();
    }
}

int CAboutDialog::DoModal() {
    return exec();
}

} // namespace didira
