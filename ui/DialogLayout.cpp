#include "ui/DialogLayout.h"

#include "ui/StationListCtrl.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <algorithm>

namespace didira {

namespace {

int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    // Rounds half away from zero, as the platform's MulDiv does.
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

// An icon that takes its own clicks, so a double click on it is not a double
// click on the dialog.
class NotifyingIcon final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void mousePressEvent(QMouseEvent* e) override { e->accept(); }
    void mouseDoubleClickEvent(QMouseEvent* e) override { e->accept(); }
};

// Nearest control to the right of label on the same line: the field it names.
QWidget* FieldOfLabel(const ControlTemplate& label, const DialogTemplate& tpl,
                      const QHash<int, QWidget*>& made) {
    QWidget* best = nullptr;
    int bestDistance = INT_MAX;
    for (const ControlTemplate& c : tpl.controls) {
        if (c.id == IDC_STATIC || !made.contains(c.id))
            continue;
        const bool sameLine =
            c.rect.top() < label.rect.bottom() + 1 && label.rect.top() < c.rect.bottom() + 1;
        const int distance = c.rect.left() - label.rect.right();
        if (sameLine && distance >= 0 && distance < 12 && distance < bestDistance) {
            best = made.value(c.id);
            bestDistance = distance;
        }
    }
    return best;
}

// The substitute font may set Latin text wider than the template's font did;
// a label whose text would be clipped is set slightly condensed instead.
void FitLabelText(QLabel* label) {
    const int available = label->width();
    const int needed = label->fontMetrics().horizontalAdvance(label->text());
    if (needed <= available || needed == 0)
        return;
    QFont font = label->font();
    font.setStretch(std::max(70, available * 100 / needed));
    label->setFont(font);
}

} // namespace

QFont DialogFont(const DialogTemplate& tpl) {
    QString family = tpl.fontFace;
    const QStringList installed = QFontDatabase::families();
    if (!installed.contains(family)) {
        // Japanese proportional gothics, best first.
        static const QStringList fallbacks = {
            QStringLiteral("IPAPGothic"),       QStringLiteral("IPAexGothic"),
            QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic"),
            QStringLiteral("IPAGothic"),        QStringLiteral("Takao PGothic")};
        for (const QString& f : fallbacks) {
            if (installed.contains(f)) {
                family = f;
                break;
            }
        }
    }
    QFont font(family);
    // Point size at the platform's 96 dots per inch, so dialog units come out
    // the same on every screen.
    font.setPixelSize(MulDiv(tpl.pointSize, 96, 72));
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    return QSize((width / 26 + 1) / 2, metrics.height());
}

QRect MapDialogRect(const QRect& du, QSize base) {
    const int left = MulDiv(du.x(), base.width(), 4);
    const int top = MulDiv(du.y(), base.height(), 8);
    const int right = MulDiv(du.x() + du.width(), base.width(), 4);
    const int bottom = MulDiv(du.y() + du.height(), base.height(), 8);
    return QRect(left, top, right - left, bottom - top);
}

QHash<int, QWidget*> CreateTemplateControls(const DialogTemplate& tpl, QWidget* parent,
                                            QSize base) {
    using namespace style;
    QHash<int, QWidget*> made;
    QVector<QPair<const ControlTemplate*, QLabel*>> labels;

    for (const ControlTemplate& c : tpl.controls) {
        QWidget* w = nullptr;
        switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(c.text, parent);
            button->setAutoDefault(false);
            button->setDefault(c.kind == ControlKind::DefPushButton);
            w = button;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(parent);
            edit->setReadOnly(c.style & ES_READONLY);
            edit->setAlignment((c.style & ES_RIGHT) ? (Qt::AlignRight | Qt::AlignVCenter)
                                                    : (Qt::AlignLeft | Qt::AlignVCenter));
            edit->setFrame(c.style & WS_BORDER);
            w = edit;
            break;
        }
        case ControlKind::Static: {
            auto* label = new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setText(c.text);
            label->setAlignment(Qt::AlignLeft |
                                ((c.style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop));
            labels.push_back({&c, label});
            w = label;
            break;
        }
        case ControlKind::StaticIcon: {
            QLabel* icon = (c.style & SS_NOTIFY) ? new NotifyingIcon(parent) : new QLabel(parent);
            icon->setPixmap(LoadIconResource(c.text.toInt()).pixmap(32, 32));
            icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            // An icon control takes the icon's own size.
            icon->setGeometry(QRect(MapDialogRect(c.rect, base).topLeft(), QSize(32, 32)));
            icon->setVisible(!c.hidden());
            continue;
        }
        case ControlKind::Trackbar: {
            auto* slider = new QSlider(Qt::Horizontal, parent);
            slider->setTickPosition((c.style & TBS_TOP) ? QSlider::TicksAbove
                                                        : QSlider::TicksBelow);
            w = slider;
            break;
        }
        case ControlKind::ListView: {
            auto* list = new CStationListCtrl(parent);
            list->setSelectionMode((c.style & LVS_SINGLESEL)
                                       ? QAbstractItemView::SingleSelection
                                       : QAbstractItemView::ExtendedSelection);
            w = list;
            break;
        }
        case ControlKind::OleControl:
            continue;
        }
        w->setGeometry(MapDialogRect(c.rect, base));
        if (c.kind == ControlKind::Static)
            FitLabelText(static_cast<QLabel*>(w));
        w->setEnabled(!c.disabled());
        w->setVisible(!c.hidden());
        if (c.kind != ControlKind::Static)
            w->setFocusPolicy((c.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
        w->setObjectName(c.id == IDC_STATIC ? QStringLiteral("static")
                                            : QStringLiteral("IDC_%1").arg(c.id));
        if (c.id != IDC_STATIC)
            made.insert(c.id, w);
    }

    for (const auto& [tplLabel, label] : labels) {
        if (QWidget* field = FieldOfLabel(*tplLabel, tpl, made)) {
            label->setBuddy(field);
            field->setAccessibleName(tplLabel->text);
        }
    }
    return made;
}

} // namespace didira
