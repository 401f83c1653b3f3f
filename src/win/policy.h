// Group Policy: the values an administrator sets under
// Software\Policies\orlimo, for the machine (HKLM) and for the user (HKCU),
// in the 64-bit registry view on 64-bit Windows. The rules of what they
// mean are the core's (ApplyPolicy).
#pragma once
#include <vector>

#include "core/managed.h"

namespace orlimo {

inline const wchar_t kPolicyKey[] = L"Software\\Policies\\orlimo";

// Machine policy, then user policy (the order of their precedence); the
// values of the core's kManagedValues that each key holds: REG_SZ as text,
// REG_DWORD as a number, any other type as such.
std::vector<PolicySource> ReadPolicies();

}  // namespace orlimo
