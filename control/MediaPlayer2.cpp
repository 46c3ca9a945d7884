#include "control/MediaPlayer2.h"

#include "control/ControlHost.h"

#include <vector>

namespace didira {

void CMediaPlayer2::Attach(OleControl* control) {
    m_window = control;
    m_target = control;
}

OleControl* CMediaPlayer2::GetControl() const {
    return m_window ? static_cast<OleControl*>(m_window.data()) : nullptr;
}

QWidget* CMediaPlayer2::GetWindow() const {
    return m_window.data();
}

Variant CMediaPlayer2::InvokeHelper(DispId id, InvokeKind kind, VarType returnType,
                                    std::string_view paramTypes,
                                    std::initializer_list<Variant> args) {
    // A control that went away with its window answers nothing.
    if (!m_window || !m_target)
        throw DispatchError(static_cast<std::int32_t>(0x800401FDu), QString()); // not connected
    if (paramTypes.size() != args.size())
        throw DispatchError(kDispBadParamCount, QString());

    std::vector<Variant> converted;
    converted.reserve(args.size());
    auto arg = args.begin();
    for (const char type : paramTypes) {
        switch (static_cast<unsigned char>(type)) {
        case 3:
            converted.push_back(ChangeType(*arg, VarType::I4));
            break;
        case 11:
            // A framework BOOL goes over as the automation boolean (-1 / 0).
            converted.push_back(ChangeType(*arg, VarType::Bool));
            break;
        case 14:
            // The dialog's text becomes the control's wide text.
            converted.push_back(ChangeType(*arg, VarType::BStr));
            break;
        default:
            throw DispatchError(kDispTypeMismatch, QString());
        }
        ++arg;
    }

    Variant result = m_target->Invoke(id, kind, converted);
    if (returnType == VarType::Empty)
        return std::monostate{};
    return ChangeType(result, returnType);
}

namespace {
long AsLong(const Variant& v) {
    return std::get<std::int32_t>(v);
}
} // namespace

long CMediaPlayer2::GetBandwidth() {
    return AsLong(InvokeHelper(dispid::Bandwidth, InvokeKind::PropertyGet, VarType::I4, "", {}));
}

void CMediaPlayer2::SetPlayOnOpen(BOOL newValue) {
    InvokeHelper(dispid::PlayOnOpen, InvokeKind::PropertyPut, VarType::Empty, VTS_BOOL,
                 {static_cast<std::int32_t>(newValue)});
}

long CMediaPlayer2::GetOpenState() {
    return AsLong(InvokeHelper(dispid::OpenState, InvokeKind::PropertyGet, VarType::I4, "", {}));
}

long CMediaPlayer2::GetPlayState() {
    return AsLong(InvokeHelper(dispid::PlayState, InvokeKind::PropertyGet, VarType::I4, "", {}));
}

BOOL CMediaPlayer2::GetIsError() {
    const Variant v = InvokeHelper(dispid::IsError, InvokeKind::PropertyGet, VarType::Bool, "", {});
    return std::get<VariantBool>(v).value != 0 ? TRUE : FALSE;
}

QString CMediaPlayer2::GetErrorDescription() {
    return std::get<QString>(
        InvokeHelper(dispid::ErrorDescription, InvokeKind::PropertyGet, VarType::BStr, "", {}));
}

long CMediaPlayer2::GetErrorCode() {
    return AsLong(InvokeHelper(dispid::ErrorCode, InvokeKind::PropertyGet, VarType::I4, "", {}));
}

long CMediaPlayer2::GetVolume() {
    return AsLong(InvokeHelper(dispid::Volume, InvokeKind::PropertyGet, VarType::I4, "", {}));
}

void CMediaPlayer2::SetVolume(long newValue) {
    InvokeHelper(dispid::Volume, InvokeKind::PropertyPut, VarType::Empty, VTS_I4,
                 {static_cast<std::int32_t>(newValue)});
}

long CMediaPlayer2::GetBalance() {
    return AsLong(InvokeHelper(dispid::Balance, InvokeKind::PropertyGet, VarType::I4, "", {}));
}

void CMediaPlayer2::SetBalance(long newValue) {
    InvokeHelper(dispid::Balance, InvokeKind::PropertyPut, VarType::Empty, VTS_I4,
                 {static_cast<std::int32_t>(newValue)});
}

void CMediaPlayer2::Stop() {
    InvokeHelper(dispid::Stop, InvokeKind::Method, VarType::Empty, "", {});
}

void CMediaPlayer2::Cancel() {
    InvokeHelper(dispid::Cancel, InvokeKind::Method, VarType::Empty, "", {});
}

void CMediaPlayer2::Open(const QString& fileName) {
    InvokeHelper(dispid::Open, InvokeKind::Method, VarType::Empty, VTS_BSTR, {fileName});
}

} // namespace didira
