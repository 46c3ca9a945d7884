// Placeholder until the station list lands.
#include "ui/VavarozDlg.h"

namespace didira {

void CVavarozDlg::ResetStationList() {}
void CVavarozDlg::BuildStationColumns(unsigned) {}
void CVavarozDlg::FillStationList() {}

} // namespace didira
