// Compiled-in image strips: cut into images, white masked.
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
    // Image 8 is all white: nothing of it shows.
    EXPECT_EQ(small.GetImage(8).toImage().pixelColor(15, 15), QColor(10, 20, 30));
    EXPECT_TRUE(small.GetImage(9).isNull());
    EXPECT_TRUE(small.GetImage(-1).isNull());

    CImageList normal;
    ASSERT_TRUE(normal.Create(IDB_NORMAL_ICONS, 15, 0, qRgb(255, 255, 255)));
    EXPECT_EQ(normal.GetImageCount(), 18);
    EXPECT_EQ(normal.GetImageSize(), QSize(15, 30));

    CImageList missing;
    EXPECT_FALSE(missing.Create(999, 16, 0, qRgb(255, 255, 255)));
}
