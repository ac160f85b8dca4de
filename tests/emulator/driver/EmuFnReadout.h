// Reading a stored fiscal document back through the driver's register object
// the way the driver's readout does it: 78/15 starts, 78/16 hands one TLV
// record per answer until the announced length is read; each record is
// decoded by the data type of its tag, containers recursively. Values are
// found by their tags: which name the host's receipt package gives a tag is
// for the tests to state, not a copy of the driver's table.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "device/uDevice.h"

namespace fn_readout {

// Data type of each tag of the fiscal data format table (0: not in the table).
inline int DataType(int tag) {
  static const std::map<int, std::set<int>> kTypes = {
      {1,
       {1000, 1005, 1008, 1009, 1013, 1016, 1017, 1018, 1021, 1026, 1030, 1036, 1037, 1041, 1044,
        1046, 1048, 1060, 1073, 1074, 1075, 1085, 1086, 1117, 1171, 1179, 1187, 1188, 1191, 1192,
        1196, 1197, 1203, 1208, 1225, 1226, 1227, 1228, 1230, 1231, 1243, 1244, 1245, 1246, 1254,
        1262, 1263, 1264, 1265, 1272, 1274, 1276, 1278, 1280, 1282, 1292, 1300, 1301, 1302, 1303,
        1304, 1305, 1306, 1307, 1308, 1309, 1320, 1321, 1322, 1323, 1324, 1325, 2000, 2101, 2115}},
      {3, {1055, 1057, 1205, 1206, 1222, 1290, 2004, 2005, 2106, 2112, 2113, 2116}},
      {4, {1012, 1098, 1178, 1273, 2114}},
      {5, {1038, 1040, 1042, 1097, 1111, 1116, 1118, 1134, 1135, 1144, 1213, 2001, 2002, 2104}},
      {6, {1001, 1002, 1022, 1050, 1051, 1052, 1053, 1054, 1056, 1062, 1101, 1108,
           1109, 1110, 1126, 1173, 1189, 1190, 1193, 1199, 1207, 1209, 1212, 1214,
           1221, 1271, 2003, 2006, 2100, 2102, 2105, 2107, 2108, 2109, 2110, 2111}},
      {7, {1077, 1078, 1275, 1277, 1279, 1281, 1283}},
      {8, {1020, 1031, 1043, 1079, 1081, 1102, 1103, 1104, 1105, 1106, 1107,
           1136, 1138, 1139, 1140, 1141, 1142, 1143, 1183, 1198, 1200, 1201,
           1215, 1216, 1217, 1218, 1219, 1220, 1223, 1224, 1229, 1293, 1294}},
      {9, {1023}},
      {10, {1059, 1068, 1084, 1129, 1130, 1131, 1132, 1133, 1145, 1146, 1157, 1158,
            1163, 1174, 1194, 1232, 1233, 1256, 1260, 1261, 1270, 1291, 2007}},
  };
  for (const auto& [type, tags] : kTypes)
    if (tags.count(tag)) return type;
  return 0;
}

inline uint64_t LittleEndian(const std::string& v, size_t from, size_t count) {
  uint64_t x = 0;
  for (size_t i = std::min(v.size(), from + count); i-- > from;) x = x * 256 + uint8_t(v[i]);
  return x;
}

inline std::string Shortest(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  return buf;
}

// One decoded record.
struct TElement {
  int Tag = 0;
  int Type = 0;
  std::string Value;
  bool TagSection = false;
};

inline std::string DecodeValue(int tag, int type, const std::string& v) {
  switch (type) {
    case 3:
      return tag == 1055 ? std::to_string(v.empty() ? 0 : uint8_t(v[0])) : OemToUtf8(v);
    case 4: {
      const int64_t seconds = static_cast<int64_t>(LittleEndian(v, 0, 4));
      TDateTime t;
      CivilFromDays(seconds / 86400, t.Year, t.Month, t.Day);
      t.Hour = static_cast<int>(seconds % 86400 / 3600);
      t.Minute = static_cast<int>(seconds % 3600 / 60);
      t.Second = static_cast<int>(seconds % 60);
      return t.ToXml();
    }
    case 5:
      return std::to_string(LittleEndian(v, 0, 4));
    case 6:
      return std::to_string(v.empty() ? 0 : uint8_t(v[0]));
    case 7: {
      uint64_t x = 0;
      for (size_t i = 2; i < 6 && i < v.size(); ++i) x = x * 256 + uint8_t(v[i]);
      return std::to_string(x);
    }
    case 8:
      return Shortest(static_cast<double>(LittleEndian(v, 0, v.size())) / 100.0);
    case 9: {
      if (v.empty()) return "0";
      const double digits = static_cast<double>(LittleEndian(v, 1, v.size() - 1));
      return Shortest(digits / std::pow(10.0, uint8_t(v[0])));
    }
    default:
      return OemToUtf8(v);
  }
}

// The nested rule: children of a container; only 1059 and 1163 mark item fields.
inline void DecodeContainer(const std::string& bytes, int parent, std::vector<TElement>& out) {
  size_t at = 0;
  while (bytes.size() - at >= 5) {
    const int tag = static_cast<int>(LittleEndian(bytes, at, 2));
    const size_t len = LittleEndian(bytes, at + 2, 2);
    const std::string value = bytes.substr(at + 4, len);
    const int type = DataType(tag);
    if (type == 10)
      DecodeContainer(value, tag, out);
    else
      out.push_back({tag, type, DecodeValue(tag, type, value), parent == 1059 || parent == 1163});
    at += 4 + len;
    if (at > bytes.size()) break;
  }
}

// A stored document: its records in order, and the fields of each item.
struct TDocument {
  int DocumentType = 0;
  size_t Length = 0;
  std::string Bytes;
  std::vector<TElement> Elements;
  // Tag -> value of each item (1059), in order.
  std::vector<std::map<int, std::string>> Positions;
  // How many records the readout took (one 78/16 each).
  int Records = 0;

  // The first record with ATag, wherever it is.
  const TElement* Find(int ATag) const {
    for (const TElement& e : Elements)
      if (e.Tag == ATag) return &e;
    return nullptr;
  }
  // Its value, or a text that names the missing tag.
  std::string Value(int ATag) const {
    const TElement* e = Find(ATag);
    return e ? e->Value : "<missing " + std::to_string(ATag) + ">";
  }
};

inline TDocument Read(TDevice& device, int number) {
  TDocument doc;
  device.FNGetInfo(15, number);
  doc.DocumentType = static_cast<int>(device.GetDataAsInteger(1));
  doc.Length = static_cast<size_t>(device.GetDataAsInteger(2));
  while (doc.Bytes.size() < doc.Length && doc.Records < 10000) {
    device.FNGetInfo(16);
    const std::string block = HexToBytes(device.Data().empty() ? "" : device.Data()[0]);
    doc.Bytes += block;
    ++doc.Records;
    if (block.size() < 4) continue;
    const int tag = static_cast<int>(LittleEndian(block, 0, 2));
    const int type = DataType(tag);
    if (type == 0) continue;
    const size_t len = LittleEndian(block, 2, 2);
    const std::string value = block.substr(4, len);
    if (type == 10) {
      doc.Elements.push_back({tag, type, "", false});
      DecodeContainer(value, tag, doc.Elements);
    } else {
      doc.Elements.push_back({tag, type, DecodeValue(tag, type, value), false});
    }
  }
  for (const TElement& e : doc.Elements) {
    if (e.Tag == 1059) doc.Positions.emplace_back();
    if (e.TagSection && !doc.Positions.empty()) doc.Positions.back()[e.Tag] = e.Value;
  }
  return doc;
}

}  // namespace fn_readout
