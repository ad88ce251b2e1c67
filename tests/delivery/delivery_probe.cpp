// Drives the delivery pieces one at a time from the command line, for the
// transport tests and the delivery benchmark:
//   delivery_probe get HOST PORT PATH HTTPS
//   delivery_probe post HOST PORT PATH HTTPS SELECTOR SIZE   (SIZE pattern bytes)
//   delivery_probe archive OUT MEMBER...                    (prints the milliseconds)
//   delivery_probe upload URL CRASHLOG MINIDUMP             (prints memory figures)
// Results go to standard output as name=value lines.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "delivery/http_transport.h"
#include "delivery/report_archive.h"
#include "delivery/report_crypto.h"
#include "delivery/report_data.h"

namespace {
std::string Md5Of(const std::string& data) {
  std::string digest;
  Md5Hex(data.data(), static_cast<uint32_t>(data.size()), digest);
  return digest;
}

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"get" && argc == 6) {
    int status = 200;
    std::string body;
    const bool ok = HttpGet(argv[2], _wtoi(argv[3]), argv[4], _wtoi(argv[5]) != 0, L"Cookie:OVSESS=", status, body);
    std::printf("result=%d\nstatus=%d\nlength=%u\nmd5=%s\n", ok ? 1 : 0, status, static_cast<unsigned>(body.size()),
                Md5Of(body).c_str());
    return 0;
  }
  if (command == L"post" && argc == 8) {
    std::string data(static_cast<size_t>(_wtoi(argv[7])), '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131 + 7) % 251);
    int status = 200;
    const bool ok = PostMultipart(argv[2], _wtoi(argv[3]), argv[4], data.data(), static_cast<int>(data.size()),
                                  _wtoi(argv[5]) != 0, _wtoi(argv[6]), status);
    std::printf("result=%d\nstatus=%d\n", ok ? 1 : 0, status);
    return 0;
  }
  if (command == L"archive" && argc >= 3) {
    std::vector<std::wstring> members(argv + 3, argv + argc);
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    const bool ok = WriteReportArchive(argv[2], members);
    ::QueryPerformanceCounter(&end);
    std::printf("result=%d\nmilliseconds=%.1f\n", ok ? 1 : 0, Milliseconds(start, end));
    return 0;
  }
  if (command == L"upload" && argc == 5) {
    CReportData data;
    data.m_uploadUrl = argv[2];
    data.SplitUrl(argv[2], data.m_uploadHost, data.m_uploadPath, data.m_uploadPort);
    data.m_crashLogPath = argv[3];
    data.m_dumpFilePath = argv[4];
    data.m_deviceId = L"bench";
    // Marks for an outside observer of the process's memory, with a pause
    // on each side so the figures around the upload settle.
    std::printf("upload_start\n");
    std::fflush(stdout);
    ::Sleep(500);
    const PROCESS_MEMORY_COUNTERS before = Memory();
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    data.UploadReport();
    ::QueryPerformanceCounter(&end);
    const PROCESS_MEMORY_COUNTERS after = Memory();
    std::printf("upload_end\n");
    std::fflush(stdout);
    ::Sleep(500);
    std::printf("private_before=%llu\nprivate_peak=%llu\nworking_set_before=%llu\nworking_set_peak=%llu\n"
                "milliseconds=%.1f\n",
                static_cast<unsigned long long>(before.PagefileUsage),
                static_cast<unsigned long long>(after.PeakPagefileUsage),
                static_cast<unsigned long long>(before.WorkingSetSize),
                static_cast<unsigned long long>(after.PeakWorkingSetSize), Milliseconds(start, end));
    return 0;
  }
  std::fprintf(stderr, "usage: delivery_probe get|post|archive|upload ...\n");
  return 2;
}
