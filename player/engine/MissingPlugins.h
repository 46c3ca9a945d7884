#pragma once
// What GStreamer found missing while it built a pipeline (its missing-plugin
// element messages), and which Debian package brings it, so that the listener
// is told what to install.

#include <QByteArray>
#include <QString>
#include <optional>
#include <string_view>

typedef struct _GstMessage GstMessage;

namespace didira {

struct MissingPlugin {
    QString description;        // GStreamer's name of what is missing ("MPEG-4 AAC decoder")
    QString package;            // the Debian package that brings it; empty when not known
    QByteArray installerDetail; // what GStreamer's plugin installer is asked for
};

// The Debian package that brings what a missing-plugin message asks for.
// type is the message's type ("decoder", "encoder", "element", "urisource",
// "urisink"); detail its caps as text, the element's name or the URI
// scheme. Empty when not known.
QString DebianPackageFor(std::string_view type, std::string_view detail);

// A missing-plugin message read; none for any other message.
std::optional<MissingPlugin> MissingPluginOf(GstMessage* message);

} // namespace didira
