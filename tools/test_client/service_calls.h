#pragma once
// Calls on the host's IService named by text, as script steps give them: early bound through the
// interface's virtual table, or late bound through IDispatch as a script language would call.

#include <windows.h>

#include <string>

#include "keldran_service.h"
#include "script.h"

namespace keldran::client {

struct CallOutcome {
  HRESULT hr = E_NOTIMPL;
  std::string value;  // what the call returned ([out, retval]), as text; empty when nothing
};

// The methods that the test client's steps use; others fail with DISP_E_UNKNOWNNAME.
[[nodiscard]] CallOutcome CallEarlyBound(IService* service, const Call& call);
// Arguments that read as whole numbers are passed as VT_I4, all others as VT_BSTR; omitted
// trailing arguments are not passed, so their declared defaults apply.
[[nodiscard]] CallOutcome CallLateBound(IService* service, const Call& call);

}  // namespace keldran::client
