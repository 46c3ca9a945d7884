#pragma once
// The real player control for the benchmark drivers, created as the dialog
// creates it from its template.

#include "app/BuiltInControls.h"
#include "control/ControlHost.h"
#include "control/MediaPlayer2.h"
#include "player/GstPlayerControl.h"
#include "res/Resources.h"

#include <QWidget>
#include <cstdio>

namespace didira::bench {

// The control as a child of window; null, with the reason printed, when it
// cannot be created.
inline CGstPlayerControl* CreateControl(QWidget& window) {
    RegisterBuiltInControls();
    const QByteArray init = MediaPlayerInitData();
    const ControlCreation made =
        ControlHost::CreateControl(QString::fromLatin1(kMediaPlayerClsid), &window,
                                   {reinterpret_cast<const std::byte*>(init.constData()),
                                    static_cast<std::size_t>(init.size())});
    auto* control = qobject_cast<CGstPlayerControl*>(made.control);
    if (!control)
        std::fprintf(stderr, "no player control: %s\n", qPrintable(made.error));
    return control;
}

// The control in a window of its own, wrapped as the dialog wraps it and set
// to play on Open. control is null when it cannot be created.
struct BenchPlayer {
    BenchPlayer() {
        if (control) {
            player.Attach(control);
            player.SetPlayOnOpen(TRUE);
        }
    }
    QWidget window;
    CGstPlayerControl* control = CreateControl(window);
    CMediaPlayer2 player;
};

} // namespace didira::bench
