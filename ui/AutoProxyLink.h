#pragma once
// The link between the main dialog and the automation object that stands
// for it: the object points at the dialog (m_pDialog) and the dialog at the
// object (m_pAutoProxy); each clears the other's pointer when it goes. The
// automation object (above this layer) derives from this.

namespace didira {

class CVavarozDlg;

class CDlgAutoProxyLink {
public:
    // The dialog this object stands for; cleared by the dialog's destructor.
    CVavarozDlg* m_pDialog = nullptr;

protected:
    CDlgAutoProxyLink() = default;
    ~CDlgAutoProxyLink() = default;
    CDlgAutoProxyLink(const CDlgAutoProxyLink&) = delete;
    CDlgAutoProxyLink& operator=(const CDlgAutoProxyLink&) = delete;
};

} // namespace didira
