// CVedADA's transfer methods: job texts, companion hand-off and launchers.
// Runs on the page's thread.
#include "control/VedADA.h"

#include "transfer/CompanionTarget.h"

const CompanionTarget g_uploadTarget = {"TavrineUp.exe", "tavrine_class_upload", "bbs %s %s %s", 2,
                                        &CVedADA::m_strUpList, &CVedADA::m_strUpListFile};
const CompanionTarget g_downloadTarget = {"TavrineDown.exe", "tavrine_class_down", "bbs %s %s %s", 7,
                                          &CVedADA::m_strDownList, &CVedADA::m_strDownListFile};
const CompanionTarget g_speedDownloadTarget = {"TavrineSpeed.exe", "tavrine_class_down", "bbs %s %s %s", 7,
                                               &CVedADA::m_strDownList, &CVedADA::m_strDownListFile};
const CompanionTarget g_webLinkTarget = {"TavrineDown.exe", "tavrine_class_down", "weblink %s %s %s", 8,
                                         &CVedADA::m_strWebLink, &CVedADA::m_strDownListFile};

// Not built yet: every method answers S_OK and does nothing.
STDMETHODIMP CVedADA::UpLoadInit() { return S_OK; }
STDMETHODIMP CVedADA::UpLoadInfo(BSTR) { return S_OK; }
STDMETHODIMP CVedADA::UpLoadEnd(BSTR, BSTR) { return S_OK; }
STDMETHODIMP CVedADA::DownLoadInit() { return S_OK; }
STDMETHODIMP CVedADA::DownLoadInfo(BSTR, BSTR) { return S_OK; }
STDMETHODIMP CVedADA::DownLoadEnd(BSTR, BSTR, BSTR) { return S_OK; }
STDMETHODIMP CVedADA::LauncherExplorer(BSTR, BSTR) { return S_OK; }
STDMETHODIMP CVedADA::DownLoadSpInit() { return S_OK; }
STDMETHODIMP CVedADA::LauncherWebLink(BSTR, BSTR, BSTR, BSTR* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = SysAllocString(L"0");
    return S_OK;
}
bool CVedADA::HandOffToCompanion(const CompanionTarget&) { return false; }
