// A shared library with one of the four entry points only: the host must say
// which ones are missing instead of crashing on a null pointer.
extern "C" __attribute__((visibility("default"))) const char16_t* GetClassNames() {
  return u"half";
}
