#pragma once
// A buffer's bytes mapped for reading for as long as the object lives: the
// one way a probe reads what flows. A buffer that cannot be mapped reads as
// no bytes (ok() false).

#include <QByteArrayView>
#include <gst/gst.h>

namespace didira::gst {

class MappedBuffer {
public:
    explicit MappedBuffer(GstBuffer* buffer)
        : m_buffer(buffer), m_ok(buffer && gst_buffer_map(buffer, &m_map, GST_MAP_READ)) {}
    ~MappedBuffer() {
        if (m_ok)
            gst_buffer_unmap(m_buffer, &m_map);
    }
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;

    bool ok() const { return m_ok; }
    QByteArrayView bytes() const {
        return m_ok ? QByteArrayView(reinterpret_cast<const char*>(m_map.data),
                                     static_cast<qsizetype>(m_map.size))
                    : QByteArrayView();
    }

private:
    GstBuffer* m_buffer;
    GstMapInfo m_map{};
    bool m_ok;
};

} // namespace didira::gst
