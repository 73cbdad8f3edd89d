// The installer signature check on Win32: WinVerifyTrust, then the signer's
// chain, the Authenticode chain policy, the code-signing usage and the pin.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/com_util.h"
#include "update/installer_trust.h"

namespace trv {

// The pins this build was made with (TRV_INSTALLER_PINS); empty when none.
const PinList& InstallerPins();

// Checks the file at path (ANSI) against pins. Never shows UI and never
// goes to the network: revocation is not checked.
TrustOutcome VerifyInstallerWithPins(const std::string& path, const PinList& pins);
// The same against the build's pins.
TrustOutcome VerifyInstaller(const std::string& path);

// Opens the installer for its check and its start: read only, and while the
// handle stays open nobody can write, rename or delete the file. Invalid when
// it cannot be opened (or is no file).
UniqueHandle OpenInstallerHeld(const std::string& path);
// Checks the file open as `file` (named path for the verifier) against pins.
TrustOutcome VerifyOpenInstaller(HANDLE file, const std::string& path, const PinList& pins);
// Checks the held file against the build's pins. A refused file is closed
// and deleted so nothing can start it later; an accepted one stays held.
TrustOutcome VerifyHeldInstallerOrRemove(UniqueHandle& file, const std::string& path);

}  // namespace trv
