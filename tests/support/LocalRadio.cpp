#include "support/LocalRadio.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>

namespace didira::test {

namespace {
QString Script() {
    return QStringLiteral(DIDIRA_SOURCE_DIR "/scripts/local-radio.sh");
}
} // namespace

LocalRadio::LocalRadio() = default;

LocalRadio::~LocalRadio() {
    if (m_running)
        Kill();
}

bool LocalRadio::Available() {
    return !Program(QStringLiteral("icecast2")).isEmpty() &&
           !Program(QStringLiteral("ffmpeg")).isEmpty() &&
           !Program(QStringLiteral("curl")).isEmpty();
}

bool LocalRadio::Run(const QStringList& args, QString* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(Program(QStringLiteral("bash")), QStringList{Script()} + args);
    // Pump the event loop: the code under test keeps running meanwhile.
    const bool finished = WaitUntil([&] { return process.state() == QProcess::NotRunning; },
                                    std::chrono::seconds(60));
    if (!finished) {
        process.kill();
        process.waitForFinished(2000);
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool LocalRadio::Start() {
    QString output;
    QStringList args{QStringLiteral("start"), m_dir.path()};
    if (m_port)
        args << QString::number(m_port);
    m_running = true;
    if (!Run(args, &output)) {
        m_error = output;
        return false;
    }
    const QStringList lines = output.trimmed().split(u'\n');
    m_port = static_cast<quint16>(lines.last().trimmed().toUInt());
    return m_port != 0;
}

void LocalRadio::Kill() {
    Run({QStringLiteral("stop"), m_dir.path()}, nullptr);
    m_running = false;
}

QString LocalRadio::Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

} // namespace didira::test
