#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace didira {

namespace {
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}
} // namespace

QString AppName() {
    const QString path = QCoreApplication::applicationFilePath();
    if (!path.isEmpty())
        return QFileInfo(path).completeBaseName();
    return QCoreApplication::applicationName();
}

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, MbIcon icon) {
    MessageBoxRequest request{owner, text, caption.isNull() ? AppName() : caption, icon};
    if (Hook())
        return Hook()(request);

    QMessageBox box(owner);
    box.setWindowTitle(request.caption);
    box.setText(request.text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
    case MbIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MbIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MbIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MbIcon::Stop:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.exec();
    return 1;
}

} // namespace didira
