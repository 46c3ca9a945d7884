#include "ui/StatusTexts.h"

#include "control/PlayerStates.h"

#include <array>

namespace didira {

namespace {

using Table = std::array<const char16_t*, kStatusSlots>;

// Slots without text stay null.
constexpr Table kPlayStateTexts = [] {
    Table t{};
    t[ToNumber(PlayState::Stopped)] = u"再生が停止しています。";
    t[ToNumber(PlayState::Paused)] = u"再生が一時停止しています。";
    t[ToNumber(PlayState::Playing)] = u"ストリームが再生されています。";
    t[ToNumber(PlayState::Waiting)] = u"ストリームの開始待ち状態です。";
    t[ToNumber(PlayState::ScanForward)] = u"ストリームを早送りしています。";
    t[ToNumber(PlayState::ScanReverse)] = u"ストリームを巻き戻しています。";
    t[ToNumber(PlayState::SkipForward)] = u"次のトラックに進んでいます。";
    t[ToNumber(PlayState::SkipBackward)] = u"前のトラックに戻っています。";
    t[ToNumber(PlayState::Closed)] = u"ストリームは開いていません。";
    return t;
}();

constexpr Table kOpenStateTexts = [] {
    Table t{};
    t[ToNumber(OpenState::Closed)] = u"コンテンツ ファイルは閉じた状態です。";
    t[ToNumber(OpenState::LoadingMetafile)] = u"メタファイルを読み込んでいます。";
    t[ToNumber(OpenState::LoadingStationFile)] = u"ステーション ファイルを読み込んでいます。";
    t[ToNumber(OpenState::LocatingServer)] = u"サーバーを検索しています。";
    t[ToNumber(OpenState::Connecting)] = u"サーバーに接続しています。";
    t[ToNumber(OpenState::Opening)] = u"ストリームを開いているか、監視しています。";
    t[ToNumber(OpenState::Open)] = u"コンテンツ ファイルは開いた状態です。";
    return t;
}();

QString Slot(const Table& table, long value) {
    // The control's number is never trusted as an index.
    if (value < 0 || value >= kStatusSlots || !table[static_cast<std::size_t>(value)])
        return QString();
    return QString::fromUtf16(table[static_cast<std::size_t>(value)]);
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
