#include "system_code_page.h"

#include <windows.h>

namespace quellan {

CodePage systemCodePage()
{
    const UINT codePage = GetACP();
    CodePage::LeadBytes lead;
    for (unsigned byte = 0; byte < lead.size(); ++byte) {
        lead[byte] = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(byte)) != FALSE;
    }
    return CodePage(lead);
}

} // namespace quellan
