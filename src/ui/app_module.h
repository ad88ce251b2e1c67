#pragma once
// The application module object of the window library: which module the
// dialog templates and icons are loaded from. Started by the report pass
// before any outcome and terminated after it.
#include <windows.h>

class CAppModule {
 public:
  // Remembers the instance whose resources the windows use. S_OK, or
  // E_INVALIDARG for a null instance (the module then stays uninitialised).
  HRESULT Init(HINSTANCE instance);
  void Term();

  bool IsInitialized() const { return m_instance != nullptr; }
  // The initialised instance; before Init (or after Term) the executable's
  // own module, so resources are still found in it.
  HINSTANCE GetResourceInstance() const;
  HINSTANCE GetModuleInstance() const { return GetResourceInstance(); }

 private:
  HINSTANCE m_instance = nullptr;
};

// Constructed before the entry runs, like every static object of the
// window library.
extern CAppModule g_appModule;
