#include "ui/ImageList.h"

#include "res/Resources.h"

#include <QPainter>

namespace didira {

bool CImageList::Create(int bitmapId, int cx, int /*grow*/, QRgb mask) {
    m_images.clear();
    const QImage strip = LoadBitmapResource(bitmapId);
    if (strip.isNull() || cx <= 0)
        return false;
    const QImage argb = strip.convertToFormat(QImage::Format_ARGB32);
    m_size = QSize(cx, argb.height());
    for (int x = 0; x + cx <= argb.width(); x += cx) {
        QImage image = argb.copy(x, 0, cx, argb.height());
        for (int py = 0; py < image.height(); ++py) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(py));
            for (int px = 0; px < image.width(); ++px) {
                if ((line[px] & 0xFFFFFFu) == (mask & 0xFFFFFFu))
                    line[px] = qRgba(0, 0, 0, 0);
            }
        }
        m_images.push_back(std::move(image));
    }
    return true;
}

void CImageList::SetBkColor(const QColor& colour) {
    m_bk = colour;
}

QPixmap CImageList::GetImage(int i) const {
    if (i < 0 || i >= m_images.size())
        return {};
    QImage out(m_size, QImage::Format_ARGB32);
    out.fill(m_bk);
    QPainter painter(&out);
    painter.drawImage(0, 0, m_images[i]);
    painter.end();
    return QPixmap::fromImage(out);
}

} // namespace didira
