// Every message the driver shows for a failure of the register or of the link:
// the register's error byte, the extended error code the register gives on
// request (command 06), the link and framing messages and the coded driver
// errors raised as EquException. The texts live as data in uEquipmentErrors.cpp.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

// An error with a code the host sees. The fiscal interface layer reports its
// Code; any other exception is reported with code 1001.
class EquException : public std::runtime_error {
 public:
  EquException(int ACode, const std::string& AMessage, std::string AStrCode = {})
      : std::runtime_error(AMessage), Code(ACode), StrCode(std::move(AStrCode)) {}

  int Code;
  std::string StrCode;  // empty in every use
};

// Codes of the driver's own coded errors.
enum TEquErrorCode : int {
  ecGeneral = 1001,       // any error that is not an EquException
  ecInvalidInput = 1004,  // "Ошибка входных параметров команды"
  ecShiftOver24h = 3002,  // "Длительность смены превысила 24 часа. Необходимо снять Z-отчет"
  ecShiftClosed = 3005,   // "Смена закрыта"
  ecNotEnoughCash = 3006,  // "Недостаточно наличных в кассе"
  ecTaxGroupOutOfRange = 3010,  // "Налоговая группа вне допустимого диапазона"
  ecShiftOpen = 3015,  // "Смена открыта"
  ecAgentSignOutOfRange =
      3023,  // "Значение признака агента по предмету расчёта вне допустимого диапазона"
};

// The text of a coded driver error (empty for a code that has none).
std::string_view DriverErrorText(int ACode);
// An EquException with the code and its catalogue text.
EquException MakeEquException(int ACode);
// The same with what exactly went wrong after the text: "<text>. <detail>".
EquException MakeEquException(int ACode, std::string_view ADetail);

// Error byte of an answer, 255 for an unreadable field.
inline constexpr uint8_t cProtocolErrorByte = 0xFF;

// The message for a register error byte: its catalogue text, or
// "Неизвестная ошибка - (<decimal>)" for a byte the catalogue does not list.
// Code 0 gives an empty text. For code 01 the caller appends ". " and the
// extended description.
std::string RegisterErrorText(uint8_t ACode);
// True when the catalogue has a text of its own for the byte.
bool HasRegisterErrorText(uint8_t ACode);

// The text of an extended error code (answer field 1 of command 06); an
// unlisted code gives "Неизвестная ошибка (<decimal>)".
std::string ExtendedErrorText(int ACode);

// Link, framing and argument messages, byte for byte.
namespace EquMessages {
extern const std::string_view InvalidPassword;  // "Некорректный пароль связи с ФР"
extern const std::string_view ProtocolError;  // "Ошибка протокола обмена"
extern const std::string_view ChecksumError;  // "Ошибка контрольной суммы ответа"
extern const std::string_view PortOpenError;       // "Ошибка открытия порта"
extern const std::string_view DeviceNotConnected;  // "Устройство не подключено"
extern const std::string_view PortWriteError;  // "Не удалось записать данные в порт"
extern const std::string_view PortNotOpen;     // "Порт не открыт"
extern const std::string_view DeviceNoAnswer;  // "Устройство не отвечает"
extern const std::string_view PortReadError;  // "Ошибка при чтении данных из порта"
extern const std::string_view NoDataInBuffer;  // "Данные в буфере отсутствуют"
extern const std::string_view SocketLibraryError;  // "Ошибка инициализации библиотеки WinSock"
extern const std::string_view IPAddressSyntax;  // "Синтаксическая ошибка в IP-адресе"
extern const std::string_view SocketCreateError;  // "Ошибка при создании сокета"
extern const std::string_view ConnectError;  // "Ошибка при установлении подключения к ФР"
extern const std::string_view SendError;  // "Ошибка при отправке данных серверу"
extern const std::string_view ReceiveError;  // "Ошибка при получении ответа от сервера"
extern const std::string_view InvalidParameter;   // "Неверный параметр"
extern const std::string_view UnknownError;       // "Неизвестная ошибка"
extern const std::string_view InvalidDataLength;  // "invalid data length"
}  // namespace EquMessages

// Result codes of the TCP link's send and receive.
inline constexpr int cSendErrorCode = 605;
inline constexpr int cReceiveErrorCode = 606;

// Raises a plain error (std::runtime_error) with the text.
[[noreturn]] void RaiseError(std::string_view AMessage);
