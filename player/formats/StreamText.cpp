#include "player/formats/StreamText.h"

#include <glib.h>

namespace didira {

namespace {

// Null unless all of raw is well-formed CP932.
QString FromCp932(QByteArrayView raw) {
    gsize read = 0;
    gsize written = 0;
    gchar* converted = g_convert(raw.data(), static_cast<gssize>(raw.size()), "UTF-8", "CP932",
                                 &read, &written, nullptr);
    if (!converted)
        return QString();
    // raw is not empty, so a whole conversion is not empty either.
    QString text;
    if (read == static_cast<gsize>(raw.size()))
        text = QString::fromUtf8(converted, static_cast<qsizetype>(written));
    g_free(converted);
    return text;
}

QString WithoutControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            out += u' ';
        else if (c.category() != QChar::Other_Control)
            out += c;
    }
    return out.trimmed();
}

} // namespace

QString DecodeStreamText(QByteArrayView raw) {
    if (raw.isEmpty())
        return QString();
    if (g_utf8_validate_len(raw.data(), static_cast<gsize>(raw.size()), nullptr))
        return WithoutControls(QString::fromUtf8(raw));
    const QString cp932 = FromCp932(raw);
    if (!cp932.isNull())
        return WithoutControls(cp932);
    return WithoutControls(QString::fromLatin1(raw));
}

QString ShownTitle(QByteArrayView artist, QByteArrayView title) {
    const QString shown = DecodeStreamText(title);
    if (shown.isEmpty())
        return shown;
    // Comment headers name the artist apart; ICY titles carry both already.
    const QString by = DecodeStreamText(artist);
    return by.isEmpty() ? shown : by + QStringLiteral(" - ") + shown;
}

void PrepareStreamTextEncoding() {
    if (qEnvironmentVariableIsSet("GST_TAG_ENCODING"))
        return;
    if (!qEnvironmentVariableIsSet("GST_ICY_TAG_ENCODING"))
        qputenv("GST_ICY_TAG_ENCODING", "CP932");
    // ID3 text frames marked Latin-1 (those of HLS segments among them).
    if (!qEnvironmentVariableIsSet("GST_ID3_TAG_ENCODING"))
        qputenv("GST_ID3_TAG_ENCODING", "CP932");
}

} // namespace didira
