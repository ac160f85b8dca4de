// Access rights of a new log folder on Windows.
//
// Every user's platform process must be able to log, so the folder is opened
// to the local Users group with modify rights (read, write, create, delete),
// inherited by its files and sub-folders. Not Everyone with full control:
// full control includes changing the permissions and taking ownership, so
// any local user could take the folder over or swap it for a junction that
// redirects a privileged process's writes.
#include "common/Common.BaseSecurity.h"

#include <windows.h>
#include <aclapi.h>

#include <memory>
#include <stdexcept>

#include "common/win/uWinText.h"

namespace {

constexpr DWORD kModify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;

[[noreturn]] void RaiseLastError(const char* AStep) {
  throw std::runtime_error(std::string(AStep) + ": " + WindowsErrorText(GetLastError()));
}

struct TSidFree {
  void operator()(void* ASid) const { FreeSid(ASid); }
};
struct TLocalFree {
  void operator()(void* AMemory) const { LocalFree(AMemory); }
};

}  // namespace

void GrantEveryoneFullAccess(const std::string& path) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID rawUsers = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0,
                                0, 0, 0, 0, &rawUsers))
    RaiseLastError("AllocateAndInitializeSid");
  std::unique_ptr<void, TSidFree> users(rawUsers);

  const std::wstring folder = Utf8ToWide(path);
  PACL oldAcl = nullptr;
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  DWORD error = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &oldAcl, nullptr, &rawDescriptor);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    RaiseLastError("GetNamedSecurityInfoW");
  }
  std::unique_ptr<void, TLocalFree> descriptor(rawDescriptor);
  if (oldAcl == nullptr) return;  // no list at all: everyone has access already
  for (DWORD i = 0; i < oldAcl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(oldAcl, i, &ace)) continue;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (EqualSid(&allowed->SidStart, users.get()) && (allowed->Mask & kModify) == kModify &&
        (header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) ==
            (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
      return;  // granted already
  }

  EXPLICIT_ACCESS_W grant{};
  grant.grfAccessPermissions = kModify;
  grant.grfAccessMode = GRANT_ACCESS;
  grant.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  grant.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  grant.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  grant.Trustee.ptstrName = static_cast<LPWSTR>(users.get());
  PACL rawNewAcl = nullptr;
  error = SetEntriesInAclW(1, &grant, oldAcl, &rawNewAcl);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    RaiseLastError("SetEntriesInAclW");
  }
  std::unique_ptr<void, TLocalFree> newAcl(rawNewAcl);
  // Not checked: a folder whose list we cannot change still works for us.
  (void)SetNamedSecurityInfoW(const_cast<LPWSTR>(folder.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, rawNewAcl, nullptr);
}
