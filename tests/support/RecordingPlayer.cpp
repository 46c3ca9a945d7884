#include "support/RecordingPlayer.h"

#include "app/BuiltInControls.h"
#include "res/Resources.h"

namespace didira::test {

RecordingPlayer::RecordingPlayer(QWidget* parent) : OleControl(parent) {
    answers.insert(dispid::PlayState, ToNumber(PlayState::Closed));
    answers.insert(dispid::OpenState, ToNumber(OpenState::Closed));
    answers.insert(dispid::Bandwidth, std::int32_t{0});
    answers.insert(dispid::IsError, VariantBool{0});
    answers.insert(dispid::Volume, std::int32_t{0});
    answers.insert(dispid::Balance, std::int32_t{0});
}

Variant RecordingPlayer::Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) {
    calls.push_back({id, kind, {args.begin(), args.end()}});
    if (failures.contains(id))
        throw failures.at(id);
    if (kind == InvokeKind::PropertyPut && !args.empty()) {
        answers.insert(id, args.front());
        return std::monostate{};
    }
    return answers.value(id, std::monostate{});
}

void RecordingPlayer::Answer(DispId id, const Variant& value) {
    answers.insert(id, value);
}

std::vector<RecordingPlayer::Call>
RecordingPlayer::CallsTo(std::initializer_list<DispId> ids) const {
    std::vector<Call> out;
    for (const Call& c : calls) {
        for (DispId id : ids) {
            if (c.id == id)
                out.push_back(c);
        }
    }
    return out;
}

QStringList RecordingPlayer::Opened() const {
    QStringList urls;
    for (const Call& call : CallsTo({dispid::Open}))
        urls << std::get<QString>(call.args.at(0));
    return urls;
}

RecordingPlayerRegistration::RecordingPlayerRegistration() {
    RegisterBuiltInControls();
    ControlHost::RegisterClass(QString::fromLatin1(kMediaPlayerClsid),
                               [this](QWidget* parent, std::span<const std::byte>) {
                                   if (failCreation)
                                       return ControlCreation{nullptr, QStringLiteral("refused")};
                                   auto* control = new RecordingPlayer(parent); // owned by parent
                                   if (prepare)
                                       prepare(*control);
                                   m_last = control;
                                   return ControlCreation{control, QString()};
                               });
}

RecordingPlayerRegistration::~RecordingPlayerRegistration() {
    ControlHost::UnregisterClass(QString::fromLatin1(kMediaPlayerClsid));
}

} // namespace didira::test
