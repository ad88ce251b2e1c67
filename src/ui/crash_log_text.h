#pragma once
// Getting the crash log into the dialog's read-only box.
#include <cstddef>
#include <functional>
#include <string>

// Size of the buffer the crash log is read through: a line longer than
// kCrashLogPieceSize - 1 characters arrives in several pieces.
constexpr size_t kCrashLogPieceSize = 4096;

// Opens `path` as text ("rt,ccs=UNICODE": UTF-16LE unless a byte-order mark
// says otherwise, CR LF read as LF) and hands each piece fgetws returns to
// `piece`, in order. False when the file does not open.
bool ReadCrashLogPieces(const std::wstring& path, const std::function<void(const wchar_t*)>& piece);

// The edit control breaks lines only at CR LF; the text stream gives bare
// LF. Turns each LF that does not follow a CR into CR LF, remembering the
// end of the previous piece so a CR LF split across pieces stays one break.
class EditLineEnds {
 public:
  std::wstring Convert(const wchar_t* piece);

 private:
  bool m_afterCarriageReturn = false;
};

// "案例编号：" and the 32 characters from index 10 of a device id of at
// least 42 characters; empty for a shorter one.
std::wstring CaseNumberText(const std::wstring& deviceId);
