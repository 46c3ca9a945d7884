#include "ui/StatusTexts.h"

namespace didira {

namespace {

constexpr const char16_t* kPlayStateTexts[kStatusSlots] = {
    u"再生が停止しています。",         u"再生が一時停止しています。",
    u"ストリームが再生されています。", u"ストリームの開始待ち状態です。",
    u"ストリームを早送りしています。", u"ストリームを巻き戻しています。",
    u"次のトラックに進んでいます。",   u"前のトラックに戻っています。",
    u"ストリームは開いていません。",   nullptr,
};

constexpr const char16_t* kOpenStateTexts[kStatusSlots] = {
    u"コンテンツ ファイルは閉じた状態です。",
    u"メタファイルを読み込んでいます。",
    u"ステーション ファイルを読み込んでいます。",
    u"サーバーを検索しています。",
    u"サーバーに接続しています。",
    u"ストリームを開いているか、監視しています。",
    u"コンテンツ ファイルは開いた状態です。",
    nullptr,
    nullptr,
    nullptr,
};

QString Slot(const char16_t* const (&table)[kStatusSlots], long value) {
    // The control's number is never trusted as an index.
    if (value < 0 || value >= kStatusSlots || !table[value])
        return QString();
    return QString::fromUtf16(table[value]);
}

} // namespace

QString PlayStateText(long value) {
    return Slot(kPlayStateTexts, value);
}

QString OpenStateText(long value) {
    return Slot(kOpenStateTexts, value);
}

QString WaitingText() {
    return QStringLiteral("接続中です しばらくお待ちください");
}

} // namespace didira
