// Barcodes the host puts into receipts and text documents: which kinds the
// register prints and with which parameters.
#pragma once

#include <string>

#include <pugixml.hpp>

#include "device/uDevice.h"

// A barcode as the register's barcode command takes it.
struct TBarcode {
  int Options = 0, Width = 0, Height = 0, Type = 0;
  std::string Data;
};

// The barcode of a "Barcode" element (Type, Value, ValueBase64): Value when
// it is not empty, else ValueBase64 decoded (its bytes read as CP1251 text).
// Types EAN8, EAN13, CODE39 and QR in any letter case; false for any other
// type, which prints nothing. Malformed Base64 raises EConvertError.
bool ReadBarcode(const pugi::xml_node& AElement, TBarcode& ABarcode);
// The attribute ReadBarcode took the data from: "Value", or "ValueBase64"
// when Value is empty.
const char* BarcodeDataAttribute(const pugi::xml_node& AElement);
void PrintBarcode(TDevice& ADevice, const TBarcode& ABarcode);
