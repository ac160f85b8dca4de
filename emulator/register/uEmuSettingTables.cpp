#include "emulator/register/uEmuSettingTables.h"

namespace {

const TEmuTableField kFields[] = {
    {1, 0, true, 255, 0, false, "0"},
    {30, 0, false, 0, 44, true, "ООО \"Тестовая торговля\""},
    {30, 1, false, 0, 44, true, ""},
    {30, 2, false, 0, 44, true, "г. Москва, ул. Тестовая, д. 1"},
    {30, 3, false, 0, 44, true, ""},
    {70, 0, false, 0, 20, true, ""},
    {71, 0, false, 0, 12, true, "7700000001"},
    {81, 0, false, 0, 256, true, "ООО \"Тестовый ОФД\""},
    {82, 0, false, 0, 64, true, "noreply@example.ru"},
    {83, 0, false, 0, 256, true, "www.nalog.gov.ru"},
    {85, 0, false, 0, 112, true, "Торговый зал"},
};

}  // namespace

const TEmuTableField* FindTableField(int table, int index) {
  for (const auto& f : kFields)
    if (f.Table == table && f.Index == index) return &f;
  return nullptr;
}

std::string TableKey(int table, int index) {
  return std::to_string(table) + "." + std::to_string(index);
}

std::map<std::string, std::string> DefaultTables() {
  std::map<std::string, std::string> tables;
  for (const auto& f : kFields) tables[TableKey(f.Table, f.Index)] = f.Default;
  return tables;
}
