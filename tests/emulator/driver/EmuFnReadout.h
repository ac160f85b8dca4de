// A stored fiscal document as the driver's register object reads it back
// (78/15, then 78/16 until the announced length), with the values found by
// their tags: which name the host's receipt package gives a tag is for the
// tests to state.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "device/uDevice.h"

namespace fn_readout {

struct TDocument {
  int DocumentType = 0;
  std::vector<TDocElement> Elements;
  // Tag -> value of each item (1059), in order.
  std::vector<std::map<int, std::string>> Positions;

  // The first record with ATag, wherever it is.
  const TDocElement* Find(int ATag) const {
    for (const TDocElement& e : Elements)
      if (e.Tag == ATag) return &e;
    return nullptr;
  }
  // Its value, or a text that names the missing tag.
  std::string Value(int ATag) const {
    const TDocElement* e = Find(ATag);
    return e ? e->Value : "<missing " + std::to_string(ATag) + ">";
  }
};

inline TDocument Read(TDevice& device, int number) {
  TDocument doc;
  doc.DocumentType = static_cast<int>(device.GetDocumentFromFN(number));
  doc.Elements = device.DocElementList();
  for (const TDocElement& e : doc.Elements) {
    if (e.Tag == 1059) doc.Positions.emplace_back();
    if (e.TagSection && !doc.Positions.empty()) doc.Positions.back()[e.Tag] = e.Value;
  }
  return doc;
}

}  // namespace fn_readout
