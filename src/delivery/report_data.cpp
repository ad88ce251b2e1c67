#include "delivery/report_data.h"

CReportData::CReportData() : m_uploadHost(L"dump.nimbrel.com"), m_deviceId(L"[n/a]") {}
