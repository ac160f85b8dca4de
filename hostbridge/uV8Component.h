// The component block the host receives from GetClassObject, and the bridge
// operations behind the four exported functions.
//
// The block is seven pointer-sized words:
//   [0] init-done interface   [1] language-extension interface   [2] locale interface
//   [3] 0                     [4] [5] [6] the driver object
// Each interface word holds a stateless object whose vtable answers that
// interface; whichever one the host calls through, the object sits four words
// after `this`, which is why it is stored three times.
#pragma once

#include "hostbridge/uClassReg.h"
#include "hostbridge/v8napi.h"

constexpr int kV8BlockWords = 7;
constexpr int kV8BlockObjectOffset = 4;  // words from an interface word to its object

// The class-name list of the registry ("quarnel").
const WCHAR_T* V8GetClassNames(TClassRegList& List);
// Creates an object of the class named exactly Name and stores its block in
// *Component: 1; unknown name or failed construction: 0 and *Component untouched.
long V8GetClassObject(TClassRegList& List, const WCHAR_T* Name, TV8ComponentBase** Component);
// Destroys the object and frees the block; 0 in every case.
long V8DestroyObject(TV8ComponentBase** Component);
