#pragma once
#include "delivery/report_data.h"

class CMainDlg : public CReportData {
 public:
  CMainDlg() = default;
};
