#include "host/uHostMethods.h"

namespace {

// Pads a UTF-8 text to Width characters.
std::string Pad(const std::string& Text, size_t Width) {
  size_t chars = 0;
  for (char c : Text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
  return chars >= Width ? Text + " " : Text + std::string(Width - chars, ' ');
}

// How a call line writes the argument.
std::string ArgumentForm(const TMethodArgument& Arg) {
  switch (Arg.Direction) {
    case TArgDirection::adOut:
      return "-";
    case TArgDirection::adNotRead:
      return "s:";
    case TArgDirection::adIn:
      break;
  }
  switch (Arg.Type) {
    case TArgType::atText:
      return std::string(Arg.Name) == "DeviceID" ? "s:DEVICE" : "s:TEXT";
    case TArgType::atXml:
      return "@FILE.xml";
    case TArgType::atBoolean:
      return "b:true|false";
    case TArgType::atInteger:
      return "i:NUMBER";
    case TArgType::atNumber:
      return "d:NUMBER";
    case TArgType::atAny:
      return "s:|i:|d:|b:VALUE";
  }
  return "s:TEXT";
}

void ListArguments(const TMethodSignature* Signature, const std::string& Indent,
                   std::ostream& Out) {
  if (Signature == nullptr) {
    Out << Indent << "(this host has no description of its arguments)\n";
    return;
  }
  for (int i = 0; i < Signature->Count(); ++i) {
    const TMethodArgument& a = Signature->Args[i];
    Out << Indent << i << "  " << Pad(a.Name, 26) << Pad(ArgDirectionText(a.Direction), 9)
        << ArgTypeText(a.Type) << "\n";
  }
}

}  // namespace

const TMethodSignature* HostMethodSignature(TAddInHost& Host, long Number) {
  return FindMethodSignature(Host.MethodName(Number, 0));
}

const char* ArgDirectionText(TArgDirection Direction) {
  switch (Direction) {
    case TArgDirection::adIn:
      return "in";
    case TArgDirection::adOut:
      return "out";
    case TArgDirection::adNotRead:
      return "not read";
  }
  return "?";
}

const char* ArgTypeText(TArgType Type) {
  switch (Type) {
    case TArgType::atText:
      return "text";
    case TArgType::atXml:
      return "XML text";
    case TArgType::atBoolean:
      return "Boolean";
    case TArgType::atInteger:
      return "integer";
    case TArgType::atNumber:
      return "number";
    case TArgType::atAny:
      return "any value";
  }
  return "?";
}

std::string ArgumentText(const TMethodSignature& Signature, size_t Index) {
  const TMethodArgument& a = Signature.Args[Index];
  return std::to_string(Index) + " " + a.Name + " (" + ArgDirectionText(a.Direction) + ", " +
         ArgTypeText(a.Type) + ")";
}

void ListHostMethods(TAddInHost& Host, std::ostream& Out) {
  TV8LanguageExtender* lang = Host.Lang();
  const long methods = lang->GetNMethods();
  Out << "methods (" << methods << "), each with its arguments (number, name, direction, type):\n"
      << "   #  " << Pad("name", 34) << Pad("Russian name", 34) << "parameters\n";
  for (long i = 0; i < methods; ++i) {
    Out << (i < 10 ? "   " : "  ") << i << "  " << Pad(Host.MethodName(i, 0), 34)
        << Pad(Host.MethodName(i, 1), 34) << lang->GetNParams(i)
        << (lang->HasRetVal(i) ? "" : " (procedure)") << "\n";
    ListArguments(HostMethodSignature(Host, i), "        ", Out);
  }
  const long props = lang->GetNProps();
  Out << "properties (" << props << "):\n";
  for (long i = 0; i < props; ++i) {
    const bool r = lang->IsPropReadable(i), w = lang->IsPropWritable(i);
    Out << "   " << i << "  " << Pad(Host.PropName(i, 0), 34) << Pad(Host.PropName(i, 1), 34)
        << (r && w ? "read and write"
            : r    ? "read only"
            : w    ? "write only"
                   : "no access")
        << "\n";
  }
  Out << "quarnel-host call METHOD --help shows how to call one of them.\n";
}

void DescribeHostMethod(TAddInHost& Host, long Number, std::ostream& Out) {
  const std::string name = Host.MethodName(Number, 0);
  const long count = Host.Lang()->GetNParams(Number);
  const TMethodSignature* signature = HostMethodSignature(Host, Number);
  Out << name << " (" << Host.MethodName(Number, 1) << "), method " << Number << ", takes " << count
      << (count == 1 ? " argument" : " arguments") << (count == 0 ? "." : ":") << "\n";
  if (count > 0) ListArguments(signature, "  ", Out);
  if (signature == nullptr) return;
  std::string line = "quarnel-host call " + name;
  for (int i = 0; i < signature->Count(); ++i) line += " " + ArgumentForm(signature->Args[i]);
  Out << "Call it as:\n  " << line << "\n"
      << "in: the method reads the value; out: it writes one, printed after the call\n"
      << "(write - for it); not read: any value, s: will do. DEVICE is the identifier\n"
      << "ConnectEquipment printed as its out 0 (in a script, $DEVICE).\n";
}
