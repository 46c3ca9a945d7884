#include "player/timeshift/Recorder.h"

#include "player/timeshift/RecordingNames.h"
#include "player/timeshift/TitleFiles.h"

namespace didira {

QString Recorder::SaveRange(const LiveBuffer& buffer, qint64 from, qint64 to, QString folder,
                            const QString& station, QStringList* files) {
    QString error = MakeRecordingFolder(&folder);
    if (!error.isEmpty())
        return error;
    TitleFiles writer(buffer, folder, station, from);
    const bool ok = writer.WriteTo(to, true) && writer.Close();
    if (files)
        *files = writer.Files();
    return ok ? QString() : writer.Error();
}

Recorder::Recorder(std::shared_ptr<const LiveBuffer> buffer, QString folder, QString station,
                   Report started, Report failed)
    : m_buffer(std::move(buffer)),
      m_thread(&Recorder::Run, this, std::move(folder), std::move(station), std::move(started),
               std::move(failed)) {}

Recorder::~Recorder() {
    Stop();
    m_thread.join();
}

void Recorder::Stop() {
    std::lock_guard lock(m_mutex);
    m_bStop = true;
    m_wake.notify_all();
}

QStringList Recorder::Files() const {
    std::lock_guard lock(m_mutex);
    return m_files;
}

void Recorder::Run(QString folder, QString station, Report started, Report failed) {
    QString error = TitleFiles::Unrecordable(*m_buffer);
    if (error.isEmpty())
        error = MakeRecordingFolder(&folder);
    started(error);
    if (!error.isEmpty())
        return;
    TitleFiles writer(*m_buffer, folder, station, m_buffer->End());
    for (bool stopping = false; !stopping;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_bStop; });
            stopping = m_bStop;
        }
        // A buffer that lost bytes ends the recording: what it kept is written.
        const bool lost = m_buffer->Lost();
        const bool ok = writer.WriteTo(m_buffer->End(), stopping || lost) &&
                        (!(stopping || lost) || writer.Close());
        {
            std::lock_guard lock(m_mutex);
            m_files = writer.Files();
        }
        if (!ok || lost) {
            const QString why =
                ok ? QStringLiteral("the live buffer failed (%1)").arg(m_buffer->Error())
                   : writer.Error();
            writer.Close();
            failed(why);
            return;
        }
    }
}

} // namespace didira
