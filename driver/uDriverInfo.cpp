#include "driver/uDriverInfo.h"

#include <stdexcept>

#include "resources/uResources.h"

std::string EquipmentTypeText(TEquipmentType type) {
  static const char* const kTexts[] = {
      "СканерШтрихкода",      "СчитывательМагнитныхКарт", "ФискальныйРегистратор",
      "ПринтерЧеков",         "ПринтерЭтикеток",          "ДисплейПокупателя",
      "ТерминалСбораДанных",  "ЭквайринговыйТерминал",    "ЭлектронныеВесы",
      "ВесыСПечатьюЭтикеток", "СчитывательRFID",          "ККТ",
      "Видеокамера",          "ЭлектронныйЗамок",         "НеизвестныйТипОборудования",
  };
  const int index = static_cast<int>(type);
  if (index < 0 || index >= static_cast<int>(std::size(kTexts)))
    throw std::runtime_error(ResString("EnumValueUnacceptable"));
  return kTexts[index];
}
