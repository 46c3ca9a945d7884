#pragma once
// The about box (template 100).

#include <QDialog>

namespace didira {

class CAboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CAboutDialog)

    // Shows the box modally; closed by OK or Escape.
    int DoModal();
};

} // namespace didira
