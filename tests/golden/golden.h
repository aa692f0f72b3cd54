// The golden documents of tests/golden, compiled into the test programs:
// golden("keep_alive", {{"ADDRESS", "192.168.1.5"}, ...}) is keep_alive.txt
// byte for byte with each @KEY@ replaced by its value.
#pragma once

#include <map>
#include <string>

// Throws std::logic_error for an unknown document, or a placeholder left
// without a value.
std::string golden(const std::string& name, const std::map<std::string, std::string>& values);
