// Support for the picker's dialog tests: the control with a connected sink,
// a picker run driven from a second thread, the stored settings and event
// comparisons. Test code only.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "TavrineControl.h"
#include "harness/RecordingSink.h"
#include "PickerDriver.h"

// A control created through COM with a native sink connected.
class CTestControl
{
public:
    CTestControl();
    ~CTestControl();
    IVedADA* Get() const { return m_pControl; }
    explicit operator bool() const { return m_pControl != nullptr; }
    CRecordingSink sink;

private:
    IVedADA* m_pControl = nullptr;
};

// Calls ShowUpFileDlg on this thread while steps drive the picker from a
// second thread; closes it with the close button unless the steps did.
// Answers whether the picker was found, driven and closed.
bool RunPicker(CTestControl& control, const std::function<void(CPickerDriver&)>& steps);

// The remembered location under HKCU\Software\Tavrine ("<missing>" when absent).
std::wstring ReadSetting(const char* name);
void ClearSettings();
void StoreSettings(const wchar_t* drive, const wchar_t* path);

// Compares received events with the expected ones, reporting every difference.
void CheckEvents(const char* what, const std::vector<SelectEvent>& got, const std::vector<SelectEvent>& want);

std::string Narrow(const std::wstring& text);
// Text in the system code page, as the picker's lists and reports hold it.
std::string Ansi(const std::wstring& text);
std::wstring SpecialFolder(int csidl);
