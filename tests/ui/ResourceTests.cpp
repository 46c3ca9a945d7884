// Compiled-in resources: image strips, the icon and the player's state entry.
#include "res/Resources.h"
#include "ui/ImageList.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace didira;

TEST(Resources, ImageListsCutTheStripsAndMaskWhite) {
    CImageList small;
    ASSERT_TRUE(small.Create(IDB_SMALL_ICONS, 16, 0, qRgb(255, 255, 255)));
    small.SetBkColor(QColor(10, 20, 30));
    EXPECT_EQ(small.GetImageCount(), 9);
    EXPECT_EQ(small.GetImageSize(), QSize(16, 16));

    const QImage japan = small.GetImage(0).toImage();
    // The frame is black, the field (white in the bitmap) shows the
    // background, the disc is red.
    EXPECT_EQ(japan.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(japan.pixelColor(2, 2), QColor(10, 20, 30));
    EXPECT_EQ(japan.pixelColor(8, 8), QColor(255, 0, 0));
    // Images 7 and 8 are all white: nothing of them shows.
    for (int i : {7, 8}) {
        const QImage blank = small.GetImage(i).toImage();
        EXPECT_EQ(blank.pixelColor(0, 0), QColor(10, 20, 30));
        EXPECT_EQ(blank.pixelColor(15, 15), QColor(10, 20, 30));
    }
    // Images 3 to 6 are mid-grey tiles in a black frame.
    const QImage tile = small.GetImage(4).toImage();
    EXPECT_EQ(tile.pixelColor(0, 5), QColor(Qt::black));
    EXPECT_EQ(tile.pixelColor(7, 7), QColor(128, 128, 128));
    EXPECT_TRUE(small.GetImage(9).isNull());
    EXPECT_TRUE(small.GetImage(-1).isNull());

    CImageList normal;
    ASSERT_TRUE(normal.Create(IDB_NORMAL_ICONS, 15, 0, qRgb(255, 255, 255)));
    EXPECT_EQ(normal.GetImageCount(), 18);
    EXPECT_EQ(normal.GetImageSize(), QSize(15, 30));

    CImageList missing;
    EXPECT_FALSE(missing.Create(999, 16, 0, qRgb(255, 255, 255)));
    EXPECT_FALSE(LoadIconResource(IDR_MAINFRAME).isNull());
}

TEST(Resources, StringTableHoldsTheSystemTexts) {
    EXPECT_EQ(LoadResourceString(101), "Vavaroz のﾊﾞｰｼﾞｮﾝ情報(&A)...");
    EXPECT_EQ(LoadResourceString(102), "Radio Station,URL                           ,");
    EXPECT_EQ(LoadResourceString(103), "Windows ｿｹｯﾄの初期化に失敗しました。");
    EXPECT_TRUE(LoadResourceString(104).isEmpty());
}

TEST(Resources, PlayerStateEntryIsTheTabledBytes) {
    const QByteArray data = MediaPlayerInitData();
    ASSERT_EQ(data.size(), 340);
    const auto le32 = [&](int at) {
        return static_cast<std::int32_t>(
            static_cast<std::uint8_t>(data[at]) | static_cast<std::uint8_t>(data[at + 1]) << 8 |
            static_cast<std::uint8_t>(data[at + 2]) << 16 |
            static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[at + 3])) << 24);
    };
    EXPECT_EQ(le32(0), 0);
    EXPECT_EQ(le32(4), 1);
    EXPECT_EQ(le32(8), 1349);
    EXPECT_EQ(le32(12), 635);
    EXPECT_EQ(data.mid(16, 6), QByteArray("\x03\x00\xFF\xFF\xFF\xFF", 6)); // value 1: -1
    const QByteArray tail("\x03\x00\xA8\xFD\xFF\xFF\x0B\x00\x00\x00", 10); // -600, false
    EXPECT_EQ(data.right(10), tail);
    const auto& tpl = GetDialogTemplate(IDD_VAVAROZ_DIALOG);
    int ole = 0;
    for (const auto& c : tpl.controls) {
        if (c.kind == ControlKind::OleControl) {
            ++ole;
            EXPECT_EQ(c.id, 1001);
            EXPECT_EQ(c.clsid, "{22D6F312-B0F6-11D0-94AB-0080C74C7E95}");
            EXPECT_EQ(c.initData, data);
        }
    }
    EXPECT_EQ(ole, 1);
}
