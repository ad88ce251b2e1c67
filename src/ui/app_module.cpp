#include "ui/app_module.h"

CAppModule g_appModule;

HRESULT CAppModule::Init(HINSTANCE instance) {
  if (instance == nullptr) return E_INVALIDARG;
  m_instance = instance;
  return S_OK;
}

void CAppModule::Term() { m_instance = nullptr; }

HINSTANCE CAppModule::GetResourceInstance() const {
  return m_instance != nullptr ? m_instance : ::GetModuleHandleW(nullptr);
}
