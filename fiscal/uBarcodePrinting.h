// Barcodes the host puts into receipts and text documents: which kinds the
// register prints and with which parameters.
#pragma once

#include <pugixml.hpp>

#include "device/uDevice.h"

// Prints a "Barcode" element (Type, Value, ValueBase64): Value when it is not
// empty, else ValueBase64 decoded (its bytes read as CP1251 text). Types
// EAN8, EAN13, CODE39 and QR in any letter case; any other type prints
// nothing. Malformed Base64 raises EConvertError.
void PrintBarcodeElement(TDevice& ADevice, const pugi::xml_node& ABarcode);
