#pragma once
// The host's side of a hosted control: what a control may ask of the window
// that hosts it. This is the only way a control reports upward. Calls come on
// the UI thread from the event loop, never from inside Invoke, so a site may
// block (a modal box) without blocking the caller of Invoke.

#include <QString>

class QWidget;

namespace didira {

class IControlSite {
public:
    virtual ~IControlSite() = default;
    // The control could not open its stream, or lost it for good: tells the
    // user text (naming the URL and the reason), once.
    virtual void ShowControlError(QWidget* control, const QString& text) = 0;
};

} // namespace didira
