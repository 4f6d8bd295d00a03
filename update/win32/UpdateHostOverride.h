#pragma once
// A host that replaces gServerHost for the update. Null in the shipped program:
// nothing in it sets this. Only test copies of the program set it, from an object
// file linked into them alone, so that they can talk to a test server on a port of
// its choosing.
namespace tindra::win32 {

extern const char16_t* gUpdateHostOverride;

}  // namespace tindra::win32
