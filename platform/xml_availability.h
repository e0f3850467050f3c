// Whether the machine has the XML DOM 4.0 library a configuration may ask to install.
#pragma once

namespace pelisto {

// True only when the DOM 4.0 document class is registered in the image's registry (the key
// HKEY_CLASSES_ROOT\CLSID\{88D969C0-F192-11D4-A65F-0040963251E5} with an in-process server
// file that exists, and the ProgID "Msxml2.DOMDocument.4.0" naming that class) and a
// document can be created. Everything it opens is released again. Never raises.
bool IsMsxml4Available();

}  // namespace pelisto
