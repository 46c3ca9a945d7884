#include "player/formats/MetafileParser.h"

#include <QStringDecoder>
#include <algorithm>
#include <map>

namespace didira::metafile {

namespace {

// More entries than any real station list has; bounds the work on hostile input.
constexpr std::size_t kMaxEntries = 256;

QString DecodeText(const QByteArray& data) {
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(data.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                         : QStringDecoder::Utf16BE);
        return utf16(QByteArrayView(data).sliced(2));
    }
    QByteArrayView bytes(data);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

} // namespace

bool LooksBinary(const QByteArray& data) {
    const QByteArrayView head = QByteArrayView(data).first(std::min<qsizetype>(data.size(), 512));
    // UTF-16 text has zero bytes too; it always starts with its byte-order mark.
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return false;
    if (head.startsWith("ID3") || head.startsWith("OggS") || head.startsWith("fLaC") ||
        head.startsWith("\x30\x26\xB2\x75")) // ASF header object
        return true;
    if (head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFF &&
        (static_cast<unsigned char>(head[1]) & 0xE0) == 0xE0) // MPEG audio frame sync
        return true;
    return head.contains('\0');
}

namespace {

bool IsAbsoluteUrlLine(QStringView line) {
    const qsizetype colon = line.indexOf(u"://");
    if (colon <= 0)
        return false;
    for (const QChar c : line.first(colon))
        if (!c.isLetterOrNumber() && c != u'+' && c != u'-' && c != u'.')
            return false;
    return true;
}

// Lines of text without blank lines and without surrounding white space.
std::vector<QStringView> Lines(const QString& text) {
    std::vector<QStringView> lines;
    for (const auto line : QStringView(text).tokenize(u'\n')) {
        const QStringView trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            lines.push_back(trimmed);
    }
    return lines;
}

class EntryCollector {
public:
    explicit EntryCollector(const QUrl& base) : m_base(base) {}

    // Adds ref (as written in the file) unless it is unusable; nested marks an
    // ASX <entryref>.
    void Add(QStringView ref, bool nested) {
        if (m_entries.size() >= kMaxEntries)
            return;
        const QString text = ref.trimmed().toString();
        if (text.isEmpty())
            return;
        QUrl url(text, QUrl::TolerantMode);
        if (!url.isValid())
            return;
        if (url.isRelative())
            url = m_base.resolved(url);
        const QString scheme = url.scheme().toLower();
        const bool local = m_base.isEmpty() || m_base.isLocalFile();
        if (scheme == u"file") {
            // A remote list must not make the player open local files.
            if (!local)
                return;
        } else if (scheme != u"http" && scheme != u"https" && scheme != u"rtsp") {
            m_skippedScheme = true;
            return;
        }
        if (url.host().isEmpty() && scheme != u"file")
            return;
        m_entries.push_back({url, nested || HasMetafileSuffix(url)});
    }

    Result Finish(Format format) {
        Result result{format, std::move(m_entries), {}};
        if (result.entries.empty())
            result.error =
                m_skippedScheme
                    ? QStringLiteral("メタファイルの項目は対応していないプロトコルです。")
                    : QStringLiteral("メタファイルに再生できる項目がありません。");
        return result;
    }

private:
    QUrl m_base;
    std::vector<Entry> m_entries;
    bool m_skippedScheme = false;
};

// "Key<N>=value" lines (PLS File<N>, [Reference] Ref<N>), in the order of N.
void ParseNumberedKeys(const QString& text, QStringView key, EntryCollector& out) {
    std::multimap<long long, QStringView> byNumber;
    for (const QStringView line : Lines(text)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QStringView name = line.first(eq).trimmed();
        if (!name.startsWith(key, Qt::CaseInsensitive))
            continue;
        bool ok = false;
        const long long n = name.mid(key.size()).toLongLong(&ok);
        if (ok)
            byNumber.emplace(n, line.mid(eq + 1));
    }
    for (const auto& [n, value] : byNumber)
        out.Add(value, false);
}

void ParseM3u(const QString& text, EntryCollector& out) {
    for (const QStringView line : Lines(text))
        if (!line.startsWith(u'#'))
            out.Add(line, false);
}

// A forgiving reader of ASX: tags and attribute names in any letter case,
// quoted or bare attribute values, entities, unclosed entries, stray text.
class AsxReader {
public:
    AsxReader(const QString& text, EntryCollector& out) : m_text(text), m_out(out) {}

    void Run() {
        while (m_pos < m_text.size()) {
            const qsizetype lt = m_text.indexOf(u'<', m_pos);
            if (lt < 0)
                break;
            m_pos = lt + 1;
            if (QStringView(m_text).mid(m_pos).startsWith(u"!--")) {
                const qsizetype end = m_text.indexOf(u"-->", m_pos + 3);
                m_pos = end < 0 ? m_text.size() : end + 3;
                continue;
            }
            if (m_pos < m_text.size() && (m_text[m_pos] == u'!' || m_text[m_pos] == u'?')) {
                SkipPast(u'>');
                continue;
            }
            Tag();
        }
    }

private:
    void SkipPast(QChar c) {
        const qsizetype end = m_text.indexOf(c, m_pos);
        m_pos = end < 0 ? m_text.size() : end + 1;
    }

    void SkipSpace() {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }

    QString Name() {
        const qsizetype start = m_pos;
        while (m_pos < m_text.size()) {
            const QChar c = m_text[m_pos];
            if (!c.isLetterOrNumber() && c != u'_' && c != u'-' && c != u':' && c != u'.')
                break;
            ++m_pos;
        }
        return m_text.mid(start, m_pos - start).toLower();
    }

    QString Value() {
        if (m_pos >= m_text.size())
            return {};
        const QChar quote = m_text[m_pos];
        qsizetype start = m_pos;
        qsizetype end = 0;
        if (quote == u'"' || quote == u'\'') {
            start = m_pos + 1;
            end = m_text.indexOf(quote, start);
            if (end < 0)
                end = m_text.size();
            m_pos = std::min(end + 1, m_text.size());
        } else {
            while (m_pos < m_text.size() && !m_text[m_pos].isSpace() && m_text[m_pos] != u'>')
                ++m_pos;
            end = m_pos;
            if (end > start && m_text[end - 1] == u'/' && m_pos < m_text.size() &&
                m_text[m_pos] == u'>')
                --end; // <ref href=x/>
        }
        return DecodeEntities(QStringView(m_text).mid(start, end - start));
    }

    void Tag() {
        bool closing = false;
        if (m_pos < m_text.size() && m_text[m_pos] == u'/') {
            closing = true;
            ++m_pos;
        }
        const QString name = Name();
        QString href;
        bool selfClosing = false;
        while (m_pos < m_text.size()) {
            SkipSpace();
            if (m_pos >= m_text.size())
                break;
            const QChar c = m_text[m_pos];
            if (c == u'>') {
                ++m_pos;
                break;
            }
            if (c == u'<')
                break; // an unclosed tag: the next one starts here
            if (c == u'/') {
                selfClosing = true;
                ++m_pos;
                continue;
            }
            const qsizetype before = m_pos;
            const QString attr = Name();
            if (m_pos == before) { // not a name: skip the character
                ++m_pos;
                continue;
            }
            SkipSpace();
            QString value;
            if (m_pos < m_text.size() && m_text[m_pos] == u'=') {
                ++m_pos;
                SkipSpace();
                value = Value();
            }
            if (attr == u"href" && href.isNull())
                href = value;
        }

        // A <ref> outside any <entry> is taken too: hand-written files forget them.
        if (closing || (selfClosing && href.isNull()))
            return;
        if (name == u"ref")
            m_out.Add(href, false);
        else if (name == u"entryref")
            m_out.Add(href, true);
    }

    const QString& m_text;
    EntryCollector& m_out;
    qsizetype m_pos = 0;
};

QString Suffix(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > slash ? path.mid(dot + 1).toLower() : QString();
}

} // namespace

QString DecodeEntities(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            out.append(text[i]);
            continue;
        }
        const qsizetype semi = text.indexOf(u';', i + 1);
        if (semi < 0 || semi - i > 12) {
            out.append(text[i]); // a bare ampersand, common in hand-written URLs
            continue;
        }
        const QStringView ref = text.mid(i + 1, semi - i - 1);
        char32_t code = 0;
        if (ref == u"amp")
            code = U'&';
        else if (ref == u"lt")
            code = U'<';
        else if (ref == u"gt")
            code = U'>';
        else if (ref == u"quot")
            code = U'"';
        else if (ref == u"apos")
            code = U'\'';
        else if (ref.startsWith(u'#')) {
            bool ok = false;
            const uint n = ref.startsWith(u"#x", Qt::CaseInsensitive) ? ref.mid(2).toUInt(&ok, 16)
                                                                      : ref.mid(1).toUInt(&ok, 10);
            if (ok && n > 0 && n <= 0x10FFFF && (n < 0xD800 || n > 0xDFFF))
                code = n;
        }
        if (code == 0) {
            out.append(text[i]); // unknown reference: keep the text as written
            continue;
        }
        out.append(QString::fromUcs4(&code, 1));
        i = semi;
    }
    return out;
}

bool HasMetafileSuffix(const QUrl& url) {
    static const QStringList suffixes = {QStringLiteral("asx"), QStringLiteral("wax"),
                                         QStringLiteral("wvx"), QStringLiteral("pls"),
                                         QStringLiteral("m3u")};
    return suffixes.contains(Suffix(url.path()));
}

Format Detect(const QByteArray& data, const QString& contentType, const QString& path) {
    if (LooksBinary(data))
        return Format::None;
    const QString text = DecodeText(data.first(std::min<qsizetype>(data.size(), 8192)));
    const QString head = text.trimmed().toLower();
    if (head.startsWith(u"[playlist]"))
        return Format::Pls;
    if (head.startsWith(u"[reference]"))
        return Format::Reference;
    if (head.startsWith(u"#extm3u") || head.startsWith(u"#ext-x-") || head.startsWith(u"#extinf"))
        return head.contains(u"#ext-x-targetduration") || head.contains(u"#ext-x-stream-inf") ||
                       head.contains(u"#ext-x-media-sequence")
                   ? Format::Hls
                   : Format::M3u;
    if (head.contains(u"<asx"))
        return Format::Asx;
    if (head.startsWith(u"<!doctype") || head.startsWith(u"<html") || head.contains(u"<body"))
        return Format::None;

    const QString type = contentType.toLower();
    const QString suffix = Suffix(path);
    if (type.contains(u"scpls") || suffix == u"pls")
        return Format::Pls;
    if (type.contains(u"x-ms-asx") || type.contains(u"x-ms-wax") || type.contains(u"x-ms-wvx") ||
        suffix == u"asx" || suffix == u"wax" || suffix == u"wvx")
        return head.startsWith(u'<') ? Format::Asx : Format::None;
    if (type.contains(u"mpegurl") || suffix == u"m3u")
        return Format::M3u;

    // A plain text list of absolute URLs, as stations serve it with any type.
    const auto lines = Lines(text);
    bool anyUrl = false;
    for (const QStringView line : lines) {
        if (line.startsWith(u'#'))
            continue;
        if (!IsAbsoluteUrlLine(line))
            return Format::None;
        anyUrl = true;
    }
    return anyUrl ? Format::M3u : Format::None;
}

Result Parse(const QByteArray& data, const QUrl& base, const QString& contentType) {
    const Format format = Detect(data, contentType, base.path());
    EntryCollector out(base);
    switch (format) {
    case Format::None:
        return {Format::None, {}, QStringLiteral("メタファイルではありません。")};
    case Format::Hls:
        return {Format::Hls, {Entry{base, false}}, {}};
    case Format::Pls:
        ParseNumberedKeys(DecodeText(data), u"file", out);
        break;
    case Format::Reference:
        ParseNumberedKeys(DecodeText(data), u"ref", out);
        break;
    case Format::M3u:
        ParseM3u(DecodeText(data), out);
        break;
    case Format::Asx: {
        const QString text = DecodeText(data);
        AsxReader(text, out).Run();
        break;
    }
    }
    return out.Finish(format);
}

} // namespace didira::metafile
