// Reading the stand-in role library's roles file. It does no I/O, so the unit
// tests and the fuzzer can feed it any text at all.
#pragma once

#include <optional>
#include <string_view>

// Returns the role that the roles file `contents` gives the account
// `loginName`, or nothing when no well-formed line names exactly that login.
// The role points into `contents`.
//
// Each line reads `login:role`; lines starting with '#' are comments. The
// first line for the login wins.
std::optional<std::string_view> findRole(std::string_view contents, std::string_view loginName);
