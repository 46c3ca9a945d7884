#pragma once
// The dialog's handle on the hosted player control: fourteen operations, each
// one late-bound call by dispatch id through InvokeHelper.

#include "control/DispatchIds.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <initializer_list>
#include <string_view>

namespace didira {

class OleControl;

// Parameter-type bytes of InvokeHelper, one per argument.
inline constexpr char VTS_I4[] = "\x03";
inline constexpr char VTS_BOOL[] = "\x0B";
inline constexpr char VTS_BSTR[] = "\x0E"; // a string in the dialog's text form

class CMediaPlayer2 {
public:
    CMediaPlayer2() = default;
    Q_DISABLE_COPY_MOVE(CMediaPlayer2)

    // Binds the wrapper to the control created with the dialog. The control
    // is owned by the dialog window; the wrapper only refers to it.
    void Attach(OleControl* control);
    OleControl* GetControl() const;
    QWidget* GetWindow() const;

    long GetBandwidth();
    void SetPlayOnOpen(BOOL newValue);
    long GetOpenState();
    long GetPlayState();
    BOOL GetIsError();
    QString GetErrorDescription();
    long GetErrorCode();
    long GetVolume();
    void SetVolume(long newValue);
    long GetBalance();
    void SetBalance(long newValue);
    void Stop();
    void Cancel();
    void Open(const QString& fileName);

    // One late-bound call: converts args by paramTypes, invokes, converts the
    // answer to returnType. Throws DispatchError on failure, or when no
    // control is bound.
    Variant InvokeHelper(DispId id, InvokeKind kind, VarType returnType,
                         std::string_view paramTypes, std::initializer_list<Variant> args);

private:
    QPointer<QWidget> m_window;
    IDispatchTarget* m_target = nullptr;
};

} // namespace didira
