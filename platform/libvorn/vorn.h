// The role library's interface, libvorn.so: the one function it exports.
#pragma once

extern "C" {

// Returns the role of the account with the given login name, or a null
// pointer when no role can be found for it. The text belongs to the library
// and stays valid until the process ends; callers never release it.
const char* GetRole(const char* loginName);

}
