#pragma once
// A player control that records every late-bound call and answers from a
// table, registered in place of the real one.

#include "control/ControlHost.h"
#include "control/DispatchIds.h"
#include "control/PlayerStates.h"

#include <QHash>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

namespace didira::test {

class RecordingPlayer final : public OleControl {
    Q_OBJECT
public:
    struct Call {
        DispId id;
        InvokeKind kind;
        std::vector<Variant> args;
    };

    explicit RecordingPlayer(QWidget* parent = nullptr);

    Variant Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) override;

    // Sets what a get of id answers. Out of line: inlined variant copies set
    // off a false uninitialised-use warning in g++ 12.
    void Answer(DispId id, const Variant& value);

    // Calls whose id is one of ids, in order.
    std::vector<Call> CallsTo(std::initializer_list<DispId> ids) const;
    // The URLs opened so far, in order.
    QStringList Opened() const;

    std::vector<Call> calls;
    QHash<DispId, Variant> answers;           // property values returned by gets
    std::map<DispId, DispatchError> failures; // calls that raise
};

// Registers RecordingPlayer under the player's class id for as long as it
// lives; the last created control is available through Last().
class RecordingPlayerRegistration {
public:
    RecordingPlayerRegistration();
    ~RecordingPlayerRegistration();
    RecordingPlayerRegistration(const RecordingPlayerRegistration&) = delete;
    RecordingPlayerRegistration& operator=(const RecordingPlayerRegistration&) = delete;

    // Set before the dialog is created to prepare the control's answers.
    std::function<void(RecordingPlayer&)> prepare;
    bool failCreation = false;
    RecordingPlayer* Last() const { return m_last; }

private:
    RecordingPlayer* m_last = nullptr;
};

} // namespace didira::test
