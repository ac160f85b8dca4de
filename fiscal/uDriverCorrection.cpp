// Correction receipts. Format 1.2 builds them item by item like a receipt
// (ProcessCheck with its own opening step); older formats take the whole
// correction in one command.
#include "fiscal/uDriver.h"

void TDriver::ProcessCorrectionCheck(bool AElectronically,
                                     const pugi::xml_document& ACheckCorrectionPackage,
                                     pugi::xml_document& ADocumentOutputParameters) {
  if (Instance().FFFDVersion == ffd12)
    ProcessCheck(AElectronically, ACheckCorrectionPackage, ADocumentOutputParameters, true);
  else
    ProcessLegacyCorrection(ACheckCorrectionPackage, ADocumentOutputParameters);
}
