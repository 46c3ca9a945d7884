#pragma once
// Message boxes with an OK button, captioned with the application name unless
// the call gives a caption. Every message box of Didira goes through here, so
// tests can record them instead of blocking on a modal box.

#include <QString>
#include <functional>

class QWidget;

namespace didira {

enum class MbIcon { None, Information, Warning, Stop };

struct MessageBoxRequest {
    QWidget* owner = nullptr; // null: no owner (shown before the main window)
    QString text;
    QString caption; // already resolved: the application name when none was given
    MbIcon icon = MbIcon::None;
};

// The application name: the executable's base name.
QString AppName();

// Shows a modal box with an OK button and returns when it is closed (1 = OK).
int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption = QString(),
                   MbIcon icon = MbIcon::None);

// Replaces the modal box by a call of hook (tests); an empty hook restores the box.
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxHook(MessageBoxHook hook);

} // namespace didira
