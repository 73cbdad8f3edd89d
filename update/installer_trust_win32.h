// The installer signature check on Win32: WinVerifyTrust, then the signer's
// chain, the Authenticode chain policy, the code-signing usage and the pin.
#pragma once

#include <string>

#include "update/installer_trust.h"

namespace trv {

// The pins this build was made with (TRV_INSTALLER_PINS); empty when none.
const PinList& InstallerPins();

// Checks the file at path (ANSI) against pins. Never shows UI and never
// goes to the network: revocation is not checked.
TrustOutcome VerifyInstallerWithPins(const std::string& path, const PinList& pins);
// The same against the build's pins.
TrustOutcome VerifyInstaller(const std::string& path);

// VerifyInstaller, and a refused file is deleted so nothing can start it later.
TrustOutcome VerifyInstallerOrRemove(const std::string& path);

}  // namespace trv
