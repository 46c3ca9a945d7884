#pragma once
// An image list cut from a bitmap strip, with a mask colour whose pixels take
// the list's background colour.

#include <QColor>
#include <QPixmap>
#include <QVector>

namespace didira {

class CImageList {
public:
    // Cuts bitmap resource bitmapId into images cx pixels wide; pixels of
    // colour mask become transparent. Returns false when the bitmap is missing.
    bool Create(int bitmapId, int cx, int grow, QRgb mask);
    // Pixels that were masked show this colour.
    void SetBkColor(const QColor& colour);
    QColor GetBkColor() const { return m_bk; }
    int GetImageCount() const { return static_cast<int>(m_images.size()); }
    // Image i drawn on the background colour; a null pixmap for a bad index.
    QPixmap GetImage(int i) const;
    QSize GetImageSize() const { return m_size; }

private:
    QVector<QImage> m_images; // ARGB, mask pixels transparent
    QColor m_bk = Qt::transparent;
    QSize m_size;
};

} // namespace didira
