// The receipt part of a stored fiscal document, written for the host in the
// form of its receipt package (root "CheckPackage"): the answer of
// GetDocumentInformation.
#pragma once

#include <cstdint>
#include <vector>

#include <pugixml.hpp>

#include "device/uTLVStructure.h"

class TDevice;

// Replaces AOutput with the package of the decoded elements AList of a
// document of type ADocumentType: "Parameters" first, then "Positions" (one
// "FiscalString" per item, 1059) and "Payments" in the order their first
// element comes. Item fields come only from elements inside an item; a tag
// that occurs again overwrites its attribute.
void WriteCheckPackage(const std::vector<TDocElement>& AList, int64_t ADocumentType,
                       pugi::xml_document& AOutput);

// Reads stored document ADocNumber (0 or less: the last one) from the
// register and writes its package into AOutput. A failed readout raises and
// leaves AOutput as it was.
void ReadCheckPackage(TDevice& ADevice, int ADocNumber, pugi::xml_document& AOutput);
