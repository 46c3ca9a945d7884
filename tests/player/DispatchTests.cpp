#include "control/ControlHost.h"
#include "control/DispatchIds.h"
#include "control/MediaPlayer2.h"
#include "support/RecordingPlayer.h"

#include <gtest/gtest.h>

using namespace didira;

using test::RecordingPlayer;

TEST(MediaPlayer2, AnswersAreConvertedAndTheUnconvertibleRaiseDispatchErrors) {
    RecordingPlayer control;
    CMediaPlayer2 player;
    EXPECT_THROW(player.Stop(), DispatchError); // no control bound yet
    player.Attach(&control);
    control.Answer(dispid::IsError, VariantBool{-1});
    EXPECT_EQ(player.GetIsError(), 1);
    control.Answer(dispid::IsError, std::int32_t{5});
    EXPECT_EQ(player.GetIsError(), 1);
    control.Answer(dispid::PlayState, QStringLiteral("not a number"));
    EXPECT_THROW(player.GetPlayState(), DispatchError);
    control.Answer(dispid::PlayState, QStringLiteral(" 42 "));
    EXPECT_EQ(player.GetPlayState(), 42);
    control.Answer(dispid::Volume, 3.0e12);
    EXPECT_THROW(player.GetVolume(), DispatchError);
}

TEST(ControlHost, InitDataPrefixIsSkippedAndBoundsChecked) {
    const QString clsid = QStringLiteral("{00000000-1111-2222-3333-444444444444}");
    std::vector<std::byte> seen;
    ControlHost::RegisterClass(clsid, [&](QWidget*, std::span<const std::byte> s) {
        seen.assign(s.begin(), s.end());
        return ControlCreation{nullptr, QStringLiteral("test")};
    });
    const std::byte data[] = {std::byte{1},   std::byte{0}, std::byte{0}, std::byte{0},
                              std::byte{'x'}, std::byte{0}, std::byte{7}};
    EXPECT_EQ(ControlHost::CreateControl(clsid, nullptr, data).error, "test");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::byte{7});

    const std::byte tooLong[] = {std::byte{9}, std::byte{0},   std::byte{0},
                                 std::byte{0}, std::byte{'x'}, std::byte{0}};
    EXPECT_FALSE(ControlHost::CreateControl(clsid, nullptr, tooLong).error.isEmpty());
    EXPECT_FALSE(ControlHost::CreateControl(clsid, nullptr, std::span(tooLong, 3)).error.isEmpty());
    EXPECT_NE(ControlHost::CreateControl(QStringLiteral("{nope}"), nullptr, {}).error, "");
    ControlHost::UnregisterClass(clsid);
}
