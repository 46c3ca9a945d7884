#pragma once
// The automation object "Vavaroz.Application" offered on the session bus.

namespace didira {

class CVavarozApp;
class CVavarozDlg;

// Start-up step: server mode (a "-Embedding" / "-Automation" switch) serves
// the class object; a normal start rewrites the registration.
void RunAutomationStep(CVavarozApp& app);

class CVavarozDlgAutoProxy {
public:
    CVavarozDlg* m_pDialog = nullptr;
};

} // namespace didira
