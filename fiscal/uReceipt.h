// A receipt package as the register will receive it. The whole package is
// read and checked before the first command goes out, so that a package the
// register cannot take, or would take for something else, leaves nothing half
// made on it: every text is free of bytes that would act on the frame, every
// number fits the command that carries it, every line has item commands whose
// register sums are the host's amounts, the payments cover the total, and
// every marked line's code was checked and accepted.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <pugixml.hpp>

#include "fiscal/uBarcodePrinting.h"
#include "fiscal/uMarkingCodes.h"

class TTaxValues;

// Agent and supplier data of a receipt or of one item.
struct TAgentValues {
  std::string AgentOperation, AgentPhone, PaymentProcessorPhone, AcquirerOperatorPhone,
      AcquirerOperatorName, AcquirerOperatorAddress, AcquirerOperatorINN;
  std::string VendorPhone, VendorName, VendorINN;
  int AgentSign = -1;  // the agent-sign byte, -1 when no agent kind is given
};

// Industry attribute (tags 1262 to 1265) of a receipt or an item; the date
// compacted to "ddmmyyyy".
struct TIndustryValues {
  std::string IdentifierFOIV, DocumentDate, DocumentNumber, AttributeValue;
};

// One item command. Quantity, price, amount and excise have four implied
// decimals; the amount is the register's sum of price and quantity.
struct TItemCommand {
  std::string Name;
  int64_t Quantity = 0;
  int64_t Price = 0;
  int64_t Amount = 0;
  int64_t Excise = 0;
};

// A FiscalString: what each of its item commands carries, and the commands.
struct TReceiptLine {
  std::string Name;
  int64_t Amount = 0;    // the line's sum, whole kopecks, four implied decimals
  int64_t Discount = 0;  // above zero a discount line is printed, below zero a markup line
  int Department = 0, TaxCode = 0, Subject = 0, Method = 0, Measure = 0;
  std::string AdditionalAttribute, CountryOfOrigin, CustomsDeclaration;
  TAgentValues Agent;
  std::string AgentSign;  // the requisites' agent field
  TIndustryValues Industry;
  // The requisites' product code: "@" and a product code, a marking code of
  // an older format, or empty.
  std::string ProductCode;
  std::string BoundCode;            // escaped marking code bound before the item, empty when none
  std::vector<TItemCommand> Items;  // one, or two for a line split in two
};

struct TReceiptText {
  std::string Text;
};

using TReceiptPosition = std::variant<TReceiptLine, TReceiptText, TBarcode>;

struct TCustomerDetail {
  std::string Info, INN, DateOfBirth, Citizenship, DocumentTypeCode, DocumentData, Address;
};

// What reading a package takes from the connection.
struct TReceiptContext {
  bool Format12 = false;  // fiscal data format 1.2
  bool Correction = false;
  int LineLength = 0;
  const TTaxValues* Taxes = nullptr;
  const TMarkingCodes* CheckedCodes = nullptr;
};

struct TReceipt {
  // Reads APackage whole. A fault raises what it raised when found half-way
  // (3010 for a tax rate, 3023 for an agent kind, the plain errors of a
  // malformed marking code, Base64 text or correction data) or EquException
  // 1004 naming the line or the field: a missing element, a byte below 0x20,
  // a quantity the item command cannot carry, a negative price or amount, an
  // amount in fractions of a kopeck, a line that cannot go out without
  // changing its quantity, a marking code not checked and accepted, payments
  // that do not cover the total or non-cash payments above it.
  static TReceipt Read(const pugi::xml_document& APackage, const TReceiptContext& AContext);

  int DocumentType = 0;  // the open command's
  int OperationType = 0;
  int TaxationSystem = -1;
  std::string Cashier;
  std::string CustomerAddress;  // the e-mail, else the phone
  std::string UserAttributeName, UserAttributeValue;
  TCustomerDetail Customer;
  TAgentValues Agent;
  std::string AdditionalAttribute;
  TIndustryValues Industry;
  std::string OperationDate;  // "ddmmyy" (UTC), empty when not given or unreadable
  std::string OperationID, OperationData;
  // A correction receipt's opening: type byte, base date "ddmmyy", base number.
  int CorrectionType = 0;
  std::string CorrectionBaseDate, CorrectionBaseNumber;
  std::vector<TReceiptPosition> Positions;
  std::vector<std::string> TextLines;             // the receipt text, wrapped
  std::vector<std::pair<int, int64_t>> Payments;  // payment code and amount, cash last
  int64_t Total = 0;
};
