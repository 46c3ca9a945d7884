#pragma once
// Builds dialogs from templates: the dialog font with its base units, and
// dialog units converted to pixels as the platform's dialog manager does.

#include "res/Resources.h"

#include <QFont>
#include <QHash>
#include <QRect>

class QWidget;

namespace didira {

// The template's font; when its face is not installed, an installed Japanese
// proportional gothic of the same size.
QFont DialogFont(const DialogTemplate& tpl);

// Horizontal and vertical dialog base units of font: the average width of
// the Latin letters and the character height, in pixels.
QSize DialogBaseUnits(const QFont& font);

// A rectangle in dialog units converted to pixels.
QRect MapDialogRect(const QRect& dialogUnits, QSize baseUnits);

// Creates the non-OLE controls of tpl as children of parent, laid out from
// dialog units; returns them by template id (labels and icons, id -1, are
// not in the map). OleControl rows are skipped: the caller creates them.
// Each label is tied to the field to its right on the same line, as its buddy
// and as the field's accessible name.
QHash<int, QWidget*> CreateTemplateControls(const DialogTemplate& tpl, QWidget* parent,
                                            QSize baseUnits);

} // namespace didira
